// WebRtcClient: camera and screen streams, their tracks on each peer connection and their capture.

#include <algorithm>

#include <nlohmann/json.hpp>

#include "connection/WebRtcClientSupport.hpp"
#include "quorvane/QVError.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane {

namespace {

/// What sets camera and screen streams apart in the client's log lines and reports.
template <class Container>
struct StreamKind;

template <>
struct StreamKind<CameraMediaStreamContainer> {
    static constexpr const char* alreadyConnected = "Already connected, starting video capture";
    static constexpr const char* starting = "Starting video capture";
    static void started(TransportLayerDelegate& delegate, CameraMediaStreamContainer& container) {
        delegate.transportLayerAddedMediaStream(container.createController());
    }
    static void failed(TransportLayerDelegate& delegate, std::exception_ptr error) {
        delegate.transportLayerFailedToAddMediaStream(std::move(error));
    }
};

template <>
struct StreamKind<ScreenCaptureMediaStreamContainer> {
    static constexpr const char* alreadyConnected = "Already connected, starting screen capture";
    static constexpr const char* starting = "Starting screen capture";
    static void started(TransportLayerDelegate& delegate, ScreenCaptureMediaStreamContainer& container) {
        delegate.transportLayerAddedScreenCapture(container.createController());
    }
    static void failed(TransportLayerDelegate& delegate, std::exception_ptr error) {
        delegate.transportLayerFailedToAddScreenCapture(std::move(error));
    }
};

}  // namespace

void WebRtcClient::setupVideoStream(const std::shared_ptr<VideoStreamConfiguration<CameraFormat>>& configuration) {
    setUpStream(cameraContainers_, std::make_shared<CameraMediaStreamContainer>(
                                       configuration, rtc::PeerConnectionFactory::shared(), cameraCaptureFactory_, false));
}

void WebRtcClient::setupScreenShare(const std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>& configuration) {
    auto container = std::make_shared<ScreenCaptureMediaStreamContainer>(
        configuration, rtc::PeerConnectionFactory::shared(), screenCaptureFactory_, true);
    // Capture that ends by itself (its display gone) is reported as a failed one.
    container->setCaptureEndHandler([client = weak_from_this(), queue = queue_](std::exception_ptr error) {
        queue->async([client, error] {
            auto self = client.lock();
            if (!self) return;
            self->report([&](TransportLayerDelegate& delegate) {
                StreamKind<ScreenCaptureMediaStreamContainer>::failed(delegate, error);
            });
        });
    });
    setUpStream(screenContainers_, std::move(container));
}

template <class Container>
void WebRtcClient::setUpStream(std::vector<std::shared_ptr<Container>>& containers,
                               std::shared_ptr<Container> container) {
    container->initialize();
    containers.push_back(container);
    if (!peerConnection_ || !attachTrack(container) || !peerConnected()) return;
    log_.debug(newStateOperation, StreamKind<Container>::alreadyConnected);
    startCaptureOf(container);
}

void WebRtcClient::attachMediaTracks() {
    attachedStreams_.clear();
    for (const auto& container : screenContainers_) attachTrack(container);
    for (const auto& container : cameraContainers_) attachTrack(container);
}

template <class Container>
bool WebRtcClient::attachTrack(const std::shared_ptr<Container>& container) {
    if (container->addTrack(*peerConnection_)) {
        attachedStreams_.push_back(container.get());
        return true;
    }
    const auto message = "Failed to add the " + container->kind() + " track to the peer connection";
    log_.error("addTrack", message);
    report([&](TransportLayerDelegate& delegate) {
        StreamKind<Container>::failed(delegate, std::make_exception_ptr(QVError(message)));
    });
    return false;
}

void WebRtcClient::startCapture() {
    const auto startAttached = [this]<class Container>(const std::vector<std::shared_ptr<Container>>& containers) {
        for (const auto& container : containers) {
            const auto attached = std::find(attachedStreams_.begin(), attachedStreams_.end(), container.get());
            if (attached == attachedStreams_.end()) continue;
            log_.debug(newStateOperation, StreamKind<Container>::starting);
            startCaptureOf(container);
        }
    };
    startAttached(screenContainers_);
    startAttached(cameraContainers_);
}

template <class Container>
void WebRtcClient::startCaptureOf(const std::shared_ptr<Container>& container) {
    // Capture that a reset overtook belongs to a connection that is gone: it is not reported.
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    const Generation generation = generation_;
    auto started = container->startCapture();
    started.done(
        [client, generation, container] {
            auto self = client.lock();
            if (!self || self->generation_ != generation) return;
            self->report([&](TransportLayerDelegate& delegate) { StreamKind<Container>::started(delegate, *container); });
        },
        queue_);
    started.catchError(
        [client, generation](const std::exception_ptr& error) {
            auto self = client.lock();
            if (!self || self->generation_ != generation) return;
            self->report([&](TransportLayerDelegate& delegate) { StreamKind<Container>::failed(delegate, error); });
        },
        queue_);
}

void WebRtcClient::stopCapture() {
    for (const auto& container : screenContainers_) container->stopCapture();
    for (const auto& container : cameraContainers_) container->stopCapture();
}

}  // namespace quorvane
