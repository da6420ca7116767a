#include "media/CameraMediaStreamContainer.hpp"

#include <algorithm>

#include "quorvane/QVError.hpp"

namespace quorvane {

namespace {

Promise<void> failure(const char* message) {
    return Promise<void>::error(std::make_exception_ptr(QVError(message)));
}

std::optional<CameraStore::Camera> cameraNamed(const CameraStore& store, const std::string& name) {
    const auto cameras = store.cameras();
    const auto found = std::find_if(cameras.begin(), cameras.end(),
                                    [&](const CameraStore::Camera& camera) { return camera.device.name == name; });
    if (found == cameras.end()) return std::nullopt;
    return *found;
}

}  // namespace

CameraMediaStreamContainer::CameraMediaStreamContainer(
    std::shared_ptr<VideoStreamConfiguration<CameraFormat>> videoStreamConfiguration,
    std::shared_ptr<rtc::PeerConnectionFactory> factory, CameraVideoCaptureFactory videoCaptureFactory,
    bool isScreencast)
    : AbstractMediaStreamContainer(std::move(factory), isScreencast, cameraKind),
      videoStreamConfiguration_(std::move(videoStreamConfiguration)),
      videoCaptureFactory_(std::move(videoCaptureFactory)) {}

std::shared_ptr<CameraMediaStreamContainer::Controller> CameraMediaStreamContainer::createController() {
    return std::make_shared<Controller>(std::static_pointer_cast<CameraMediaStreamContainer>(shared_from_this()));
}

std::shared_ptr<VideoRenderer> CameraMediaStreamContainer::localRenderTarget() const {
    return videoStreamConfiguration_->localRenderTarget();
}

void CameraMediaStreamContainer::createCapturer(const std::shared_ptr<rtc::VideoSource>& source) {
    capturer_ = videoCaptureFactory_.createVideoCapturer(source);
}

Promise<void> CameraMediaStreamContainer::beginCapture() {
    const auto source = videoStreamConfiguration_->source();
    auto& store = *videoCaptureFactory_.cameraStore();
    store.getCameras();
    const auto camera = cameraNamed(store, source.cameraName);
    const auto format = camera ? store.avFormat(camera->device, source) : std::nullopt;
    if (!format) return failure("Failed to set up video capturer parameters");
    return requestStart(*camera, *format, source.format.frameRate.max);
}

void CameraMediaStreamContainer::endCapture() {
    capturer_->stopCapture(issueStop(Promise<void>::pending().resolver));
}

Promise<void> CameraMediaStreamContainer::restartCapture(const std::string& cameraName, const FrameFormat& format) {
    auto control = controlLock();
    if (!isInitialized()) return failure("The video stream has not been initialized");
    auto stop = Promise<void>::pending();
    capturer_->stopCapture(issueStop(stop.resolver));
    auto started = [&] {
        const auto& store = *videoCaptureFactory_.cameraStore();
        const auto camera = cameraNamed(store, cameraName);
        if (!camera) return failure("Could not access specified camera");
        const auto captureFormat = store.avFormat(camera->device, CameraFormat(cameraName, camera->isFrontFacing, format));
        if (!captureFormat) return failure("Could not access specified camera format");
        return requestStart(*camera, *captureFormat, format.frameRate.max);
    }();
    return stop.promise.then([started] { return started; });
}

Promise<void> CameraMediaStreamContainer::requestStart(const CameraStore::Camera& camera,
                                                       const rtc::CaptureFormat& format, std::int64_t framesPerSecond) {
    auto start = Promise<void>::pending();
    capturer_->startCapture(camera.device, format, framesPerSecond, issueStart(start.resolver));
    return start.promise;
}

CameraMediaStreamContainer::Controller::Controller(std::shared_ptr<CameraMediaStreamContainer> container)
    : container_(std::move(container)), cameraName_(container_->videoStreamConfiguration_->source().cameraName) {}

std::string CameraMediaStreamContainer::Controller::cameraName() const {
    std::lock_guard lock(mutex_);
    return cameraName_;
}

void CameraMediaStreamContainer::Controller::setCameraName(std::string name) {
    std::lock_guard lock(mutex_);
    cameraName_ = std::move(name);
}

Promise<void> CameraMediaStreamContainer::Controller::start() { return container_->startCapture(); }

void CameraMediaStreamContainer::Controller::stop() { container_->stopCapture(); }

Promise<void> CameraMediaStreamContainer::Controller::switchCamera(const CameraFormat& cameraFormat) {
    return container_->restartCapture(cameraFormat.cameraName, cameraFormat.format)
        .map([weak = weak_from_this(), name = cameraFormat.cameraName] {
            if (auto self = weak.lock()) self->setCameraName(name);
        });
}

Promise<void> CameraMediaStreamContainer::Controller::changeFormat(const FrameFormat& format) {
    return container_->restartCapture(cameraName(), format);
}

}  // namespace quorvane
