#pragma once

#include <functional>
#include <memory>

#include "media/CameraStore.hpp"
#include "rtc/CameraCapturer.hpp"

namespace quorvane {

namespace rtc {
class VideoSource;
}

/// Makes the capturers of camera streams, and holds the camera catalogue they capture from.
class CameraVideoCaptureFactory {
public:
    using MakeCapturer = std::function<std::shared_ptr<rtc::CameraCapturer>(std::shared_ptr<rtc::VideoSource>)>;

    /// The machine's V4L2 cameras: the process's camera store and V4L2 capturers.
    CameraVideoCaptureFactory();
    CameraVideoCaptureFactory(std::shared_ptr<CameraStore> cameraStore, MakeCapturer makeCapturer);

    /// A new capturer that captures into `videoSource`.
    std::shared_ptr<rtc::CameraCapturer> createVideoCapturer(std::shared_ptr<rtc::VideoSource> videoSource) const;

    const std::shared_ptr<CameraStore>& cameraStore() const { return cameraStore_; }

private:
    std::shared_ptr<CameraStore> cameraStore_;
    MakeCapturer makeCapturer_;
};

}  // namespace quorvane
