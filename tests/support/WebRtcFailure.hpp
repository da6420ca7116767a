#pragma once

#include <optional>

#include "quorvane/Errors.hpp"
#include "quorvane/Promise.hpp"

namespace quorvane::testing {

/// Waits for `promise`; the kind of the WebRTCError it was rejected with, or nothing when it was
/// fulfilled. Any other error propagates.
inline std::optional<WebRTCError::Kind> webRtcFailure(const Promise<void>& promise) {
    try {
        promise.wait();
    } catch (const WebRTCError& error) {
        return error.kind();
    }
    return std::nullopt;
}

}  // namespace quorvane::testing
