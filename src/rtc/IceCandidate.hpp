#pragma once

#include <string>

namespace quorvane::rtc {

/// One ICE candidate: the media section it belongs to (by id and by index) and its SDP line.
struct IceCandidate {
    std::string sdpMid;
    int sdpMLineIndex = 0;
    std::string sdp;

    bool operator==(const IceCandidate&) const = default;
};

}  // namespace quorvane::rtc
