#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

/// One ICE candidate as signaling carries it: its SDP line and the media section it belongs to.
struct SignalIceCandidate {
    std::string candidate;             ///< the candidate's SDP line
    std::int32_t sdpMLineIndex = 0;    ///< index of its media section
    std::optional<std::string> sdpMid; ///< id of its media section; sent as "" when absent

    bool operator==(const SignalIceCandidate&) const = default;
};

}  // namespace quorvane
