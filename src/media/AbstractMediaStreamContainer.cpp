#include "media/AbstractMediaStreamContainer.hpp"

#include <atomic>

#include "quorvane/QVError.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/VideoSource.hpp"
#include "rtc/VideoTrack.hpp"

namespace quorvane {

AbstractMediaStreamContainer::AbstractMediaStreamContainer(std::shared_ptr<rtc::PeerConnectionFactory> factory,
                                                           bool isScreencast, std::string kind)
    : factory_(std::move(factory)),
      isScreencast_(isScreencast),
      kind_(std::move(kind)),
      videoTrackId_(kind_ + "_TRACK"),
      streamId_(getNextStreamId()) {}

AbstractMediaStreamContainer::~AbstractMediaStreamContainer() = default;

std::int64_t AbstractMediaStreamContainer::getNextStreamId() {
    static std::atomic<std::int64_t> nextStreamId{0};
    return nextStreamId.fetch_add(1);
}

std::shared_ptr<rtc::VideoTrack> AbstractMediaStreamContainer::initialize() {
    auto control = controlLock();
    if (auto existing = getVideoTrack()) return existing;
    auto source = factory_->createVideoSource(isScreencast_);
    auto track = factory_->createVideoTrack(*source, videoTrackId_);
    if (!track) return nullptr;
    createCapturer(source);
    if (auto renderer = localRenderTarget()) track->addRenderer(renderer);
    track->setEnabled(true);
    std::lock_guard state(stateMutex_);
    videoSource_ = std::move(source);
    videoTrack_ = track;
    return track;
}

std::shared_ptr<rtc::VideoTrack> AbstractMediaStreamContainer::getVideoTrack() const {
    std::lock_guard state(stateMutex_);
    return videoTrack_;
}

bool AbstractMediaStreamContainer::addTrack(rtc::PeerConnection& connection) {
    auto track = getVideoTrack();
    return track && connection.addTrack(*track, {kind_});
}

bool AbstractMediaStreamContainer::enabled() const {
    auto track = getVideoTrack();
    return track && track->isEnabled();
}

void AbstractMediaStreamContainer::setEnabled(bool enabled) {
    if (auto track = getVideoTrack()) track->setEnabled(enabled);
}

bool AbstractMediaStreamContainer::isActive() const {
    std::lock_guard state(stateMutex_);
    return isActive_;
}

Promise<void> AbstractMediaStreamContainer::startCapture() {
    auto control = controlLock();
    {
        std::lock_guard state(stateMutex_);
        if (isActive_) return Promise<void>::value();
        if (starting_ && starting_->isPending()) return *starting_;
    }
    if (!isInitialized()) {
        return Promise<void>::error(std::make_exception_ptr(QVError("The video stream has not been initialized")));
    }
    auto started = beginCapture();
    std::lock_guard state(stateMutex_);
    starting_ = started;
    return started;
}

void AbstractMediaStreamContainer::stopCapture() {
    auto control = controlLock();
    {
        std::lock_guard state(stateMutex_);
        isActive_ = false;
        starting_.reset();
    }
    if (isInitialized()) endCapture();
}

std::function<void(std::exception_ptr)> AbstractMediaStreamContainer::issueStart(Resolver<void> resolver) {
    std::uint64_t request = 0;
    {
        std::lock_guard state(stateMutex_);
        request = ++lastRequest_;
    }
    return [weak = weak_from_this(), request, resolver = std::move(resolver)](std::exception_ptr error) {
        if (auto self = weak.lock()) self->requestFinished(request, !error);
        if (error) {
            resolver.reject(error);
        } else {
            resolver.fulfill();
        }
    };
}

std::function<void()> AbstractMediaStreamContainer::issueStop(Resolver<void> resolver) {
    std::uint64_t request = 0;
    {
        std::lock_guard state(stateMutex_);
        request = ++lastRequest_;
        lastStopRequest_ = request;
    }
    return [weak = weak_from_this(), request, resolver = std::move(resolver)] {
        if (auto self = weak.lock()) self->requestFinished(request, false);
        resolver.fulfill();
    };
}

void AbstractMediaStreamContainer::requestFinished(std::uint64_t request, bool capturing) {
    std::lock_guard state(stateMutex_);
    // A start answered after a later stop was issued is about to end.
    if (!capturing) {
        isActive_ = false;
    } else if (request > lastStopRequest_) {
        isActive_ = true;
    }
}

std::shared_ptr<rtc::VideoSource> AbstractMediaStreamContainer::videoSource() const {
    std::lock_guard state(stateMutex_);
    return videoSource_;
}

}  // namespace quorvane
