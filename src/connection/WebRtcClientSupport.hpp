#pragma once

// What the WebRtcClient's source files share: the hops onto its queue and to its delegate, and
// the errors that settle what a reset or a close overtakes.

#include <exception>

#include "connection/WebRtcClient.hpp"
#include "model/PlatformError.hpp"

namespace quorvane {

inline constexpr const char* newStateOperation = "peerConnection newState";

inline std::exception_ptr resettingError() {
    return std::make_exception_ptr(PlatformError("", 0, "Resetting connection"));
}

inline std::exception_ptr closingError() {
    return std::make_exception_ptr(PlatformError("", 0, "Closing WebRTC peer connection"));
}

inline std::exception_ptr missingConnectionError() {
    return std::make_exception_ptr(PlatformError("", 0, "Peer connection has not been created"));
}

template <class Work>
void WebRtcClient::post(Work work) {
    queue_->async([client = weak_from_this(), work = std::move(work)]() mutable {
        if (auto self = client.lock()) work(*self);
    });
}

template <class Report>
void WebRtcClient::report(Report report) const {
    if (auto delegate = delegate_.lock()) report(*delegate);
}

}  // namespace quorvane
