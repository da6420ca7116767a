#include "media/ScreenCaptureMediaStreamContainer.hpp"

#include "media/Truncation.hpp"
#include "quorvane/QVError.hpp"
#include "rtc/VideoSource.hpp"

namespace quorvane {

namespace {

/// Passes the picture of a video sample on to `source`; audio, samples without a picture and
/// time stamps that are no whole number of nanoseconds within 64 bits are dropped.
void forward(rtc::VideoSource& source, const rtc::ScreenSample& sample) {
    if (sample.type != rtc::ScreenSample::Type::video || !sample.imageBuffer) return;
    const auto timestampNs = truncateToInt64(sample.presentationTime * 1e9);
    if (!timestampNs) return;
    source.deliverFrame(sample.imageBuffer, *timestampNs);
}

}  // namespace

ScreenCaptureMediaStreamContainer::ScreenCaptureMediaStreamContainer(
    std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> videoStreamConfiguration,
    std::shared_ptr<rtc::PeerConnectionFactory> factory, ScreenCaptureFactory videoCaptureFactory, bool isScreencast)
    : AbstractMediaStreamContainer(std::move(factory), isScreencast, screenKind),
      videoStreamConfiguration_(std::move(videoStreamConfiguration)),
      videoCaptureFactory_(std::move(videoCaptureFactory)) {}

ScreenCaptureMediaStreamContainer::~ScreenCaptureMediaStreamContainer() {
    if (recording_) videoCaptureFactory_.screenRecorder()->stopCapture(*recording_);
}

std::shared_ptr<ScreenCaptureMediaStreamContainer::Controller> ScreenCaptureMediaStreamContainer::createController() {
    return std::make_shared<Controller>(std::static_pointer_cast<ScreenCaptureMediaStreamContainer>(shared_from_this()));
}

std::shared_ptr<VideoRenderer> ScreenCaptureMediaStreamContainer::localRenderTarget() const {
    return videoStreamConfiguration_->localRenderTarget();
}

void ScreenCaptureMediaStreamContainer::createCapturer(const std::shared_ptr<rtc::VideoSource>&) {
    // The recorder's samples go straight to the source: there is nothing to make.
}

Promise<void> ScreenCaptureMediaStreamContainer::beginCapture() {
    const auto& recorder = videoCaptureFactory_.screenRecorder();
    if (recorder->isRecording() || !recorder->isAvailable()) {
        return Promise<void>::error(std::make_exception_ptr(QVError("RPScreenRecorder is not available")));
    }
    auto start = Promise<void>::pending();
    // The handlers keep the source, not the container: the container may go while recording.
    recording_ = recorder->startCapture(
        [source = videoSource()](const rtc::ScreenSample& sample) { forward(*source, sample); },
        issueStart(start.resolver), [weak = weak_from_this()](std::exception_ptr error) {
            auto self = std::static_pointer_cast<ScreenCaptureMediaStreamContainer>(weak.lock());
            if (self) self->captureEnded(std::move(error));
        });
    return start.promise;
}

void ScreenCaptureMediaStreamContainer::setCaptureEndHandler(std::function<void(std::exception_ptr error)> handler) {
    std::lock_guard lock(endMutex_);
    endHandler_ = std::move(handler);
}

void ScreenCaptureMediaStreamContainer::captureEnded(std::exception_ptr error) {
    issueStop(Promise<void>::pending().resolver)();
    std::function<void(std::exception_ptr)> handler;
    {
        std::lock_guard lock(endMutex_);
        handler = endHandler_;
    }
    if (handler) handler(std::move(error));
}

void ScreenCaptureMediaStreamContainer::endCapture() {
    auto stopped = issueStop(Promise<void>::pending().resolver);
    if (recording_) videoCaptureFactory_.screenRecorder()->stopCapture(*recording_);
    recording_.reset();
    stopped();
}

ScreenCaptureMediaStreamContainer::Controller::Controller(std::shared_ptr<ScreenCaptureMediaStreamContainer> container)
    : container_(std::move(container)), format_(container_->videoStreamConfiguration_->source().format) {}

FrameSize ScreenCaptureMediaStreamContainer::Controller::format() const {
    std::lock_guard lock(mutex_);
    return format_;
}

void ScreenCaptureMediaStreamContainer::Controller::setFormat(FrameSize format) {
    std::lock_guard lock(mutex_);
    format_ = format;
}

Promise<void> ScreenCaptureMediaStreamContainer::Controller::start() { return container_->startCapture(); }

void ScreenCaptureMediaStreamContainer::Controller::stop() { container_->stopCapture(); }

Promise<void> ScreenCaptureMediaStreamContainer::Controller::changeFormat(const FrameSize&) {
    return Promise<void>::value();
}

}  // namespace quorvane
