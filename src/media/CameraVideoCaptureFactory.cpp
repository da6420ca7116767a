#include "media/CameraVideoCaptureFactory.hpp"

#include "rtc/V4l2CameraCapturer.hpp"

namespace quorvane {

CameraVideoCaptureFactory::CameraVideoCaptureFactory()
    : CameraVideoCaptureFactory(CameraStore::shared(), [](std::shared_ptr<rtc::VideoSource> source) {
          return std::make_shared<rtc::V4l2CameraCapturer>(std::move(source));
      }) {}

CameraVideoCaptureFactory::CameraVideoCaptureFactory(std::shared_ptr<CameraStore> cameraStore,
                                                     MakeCapturer makeCapturer)
    : cameraStore_(std::move(cameraStore)), makeCapturer_(std::move(makeCapturer)) {}

std::shared_ptr<rtc::CameraCapturer> CameraVideoCaptureFactory::createVideoCapturer(
    std::shared_ptr<rtc::VideoSource> videoSource) const {
    return makeCapturer_(std::move(videoSource));
}

}  // namespace quorvane
