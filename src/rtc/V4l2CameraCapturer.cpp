#include "rtc/V4l2CameraCapturer.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

#include <api/video/video_frame.h>
#include <modules/video_capture/video_capture_factory.h>

#include "model/PlatformError.hpp"
#include "rtc/VideoSource.hpp"

namespace quorvane::rtc {

namespace {

std::exception_ptr captureError(int code, const std::string& message) {
    return std::make_exception_ptr(PlatformError("V4l2CameraCapturer", code, message));
}

}  // namespace

/// What the requests work on; only touched on the capturer's queue, except `released`.
struct V4l2CameraCapturer::Core : ::rtc::VideoSinkInterface<webrtc::VideoFrame> {
    std::shared_ptr<VideoSource> source;
    ::rtc::scoped_refptr<webrtc::VideoCaptureModule> module;
    std::atomic<bool> released{false};

    explicit Core(std::shared_ptr<VideoSource> source) : source(std::move(source)) {}

    void OnFrame(const webrtc::VideoFrame& frame) override { source->deliverFrame(frame); }

    std::exception_ptr start(const CaptureDevice& device, const CaptureFormat& format, std::int64_t framesPerSecond) {
        if (released) return captureError(0, "The camera capturer was released");
        if (module && device.uniqueId != module->CurrentDeviceName()) stop();
        if (!module) {
            module = webrtc::VideoCaptureFactory::Create(device.uniqueId.c_str());
            if (!module) return captureError(0, "Could not open camera " + device.name);
            module->RegisterCaptureDataCallback(this);
        }
        webrtc::VideoCaptureCapability capability;
        capability.width = format.width;
        capability.height = format.height;
        capability.maxFPS = static_cast<std::int32_t>(std::clamp<std::int64_t>(framesPerSecond, 0, INT32_MAX));
        capability.videoType = static_cast<webrtc::VideoType>(format.pixelFormat);
        if (const auto result = module->StartCapture(capability); result != 0) {
            stop();
            return captureError(result, "Could not start capture on camera " + device.name);
        }
        return nullptr;
    }

    void stop() {
        if (!module) return;
        module->StopCapture();
        module->DeRegisterCaptureDataCallback();
        module = nullptr;
    }
};

V4l2CameraCapturer::V4l2CameraCapturer(std::shared_ptr<VideoSource> source)
    : core_(std::make_shared<Core>(std::move(source))), queue_(DispatchQueue::create("V4l2CameraCapturer")) {}

V4l2CameraCapturer::~V4l2CameraCapturer() {
    // Requests still queued keep the core; starts among them fail, and capture ends after them.
    core_->released = true;
    queue_->async([core = core_] { core->stop(); });
}

void V4l2CameraCapturer::startCapture(const CaptureDevice& device, const CaptureFormat& format,
                                      std::int64_t framesPerSecond, StartCompletion completion) {
    queue_->async([core = core_, device, format, framesPerSecond, completion = std::move(completion)] {
        auto error = core->start(device, format, framesPerSecond);
        if (completion) completion(error);
    });
}

void V4l2CameraCapturer::stopCapture(StopCompletion completion) {
    queue_->async([core = core_, completion = std::move(completion)] {
        core->stop();
        if (completion) completion();
    });
}

}  // namespace quorvane::rtc
