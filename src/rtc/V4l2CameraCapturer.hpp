#pragma once

#include <memory>

#include "quorvane/DispatchQueue.hpp"
#include "rtc/CameraCapturer.hpp"

namespace quorvane::rtc {

class VideoSource;

/// Captures a V4L2 camera of the V4l2DeviceCatalogue through WebRTC's capture module into a
/// video source. Requests run on a queue of the capturer's own, where completions are called.
class V4l2CameraCapturer final : public CameraCapturer {
public:
    explicit V4l2CameraCapturer(std::shared_ptr<VideoSource> source);
    ~V4l2CameraCapturer() override;

    void startCapture(const CaptureDevice& device, const CaptureFormat& format, std::int64_t framesPerSecond,
                      StartCompletion completion) override;
    void stopCapture(StopCompletion completion) override;

private:
    struct Core;
    std::shared_ptr<Core> core_;
    DispatchQueuePtr queue_;
};

}  // namespace quorvane::rtc
