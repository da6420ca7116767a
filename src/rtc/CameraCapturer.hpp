#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "rtc/CaptureDeviceCatalogue.hpp"

namespace quorvane::rtc {

/// Captures one camera into the video source it was made for. Requests are carried out one at a
/// time, in the order they were made, away from the caller's thread; each completion is called
/// exactly once, also when the request fails or the capturer is released first.
class CameraCapturer {
public:
    /// Null on success, else why capture did not start.
    using StartCompletion = std::function<void(std::exception_ptr error)>;
    using StopCompletion = std::function<void()>;

    /// Releasing the capturer stops capture; requests still waiting complete (starts with an error).
    virtual ~CameraCapturer() = default;

    /// Captures `device` with `format` at `framesPerSecond`, replacing any capture under way.
    virtual void startCapture(const CaptureDevice& device, const CaptureFormat& format,
                              std::int64_t framesPerSecond, StartCompletion completion) = 0;
    /// Stops capture; `completion`, when given, is called once it has stopped.
    virtual void stopCapture(StopCompletion completion) = 0;
};

}  // namespace quorvane::rtc
