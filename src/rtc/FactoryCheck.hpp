#pragma once

namespace quorvane::rtc {

/// Creates a peer-connection factory on threads of its own and destroys it again; true when the
/// factory could be made. Proves that the WebRTC archive links and runs.
bool createAndDestroyFactory();

}  // namespace quorvane::rtc
