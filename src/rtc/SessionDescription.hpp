#pragma once

#include <string>

namespace quorvane::rtc {

/// The role of a session description in the offer/answer exchange. A local description of type
/// `rollback` (with empty SDP text) withdraws a pending offer and returns to the stable state.
enum class SdpType { offer, prAnswer, answer, rollback };

/// A session description: its type and its SDP text.
struct SessionDescription {
    SdpType type = SdpType::offer;
    std::string sdp;

    bool operator==(const SessionDescription&) const = default;
};

}  // namespace quorvane::rtc
