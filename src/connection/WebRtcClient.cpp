#include "connection/WebRtcClient.hpp"

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "async/Clock.hpp"
#include "connection/RtcPeerConnectionDelegate.hpp"
#include "connection/RtcStateText.hpp"
#include "log/SessionMetrics.hpp"
#include "log/ZephLogger.hpp"
#include "model/PlatformError.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "rtc/RtcError.hpp"
#include "signaling/SignalClient.hpp"
#include "util/ErrorDescription.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane {

namespace {

constexpr const char* offerOperation = "signalClient(didReceiveOffer:)";
constexpr const char* answerOperation = "signalClient(didReceiveAnswer:)";
constexpr const char* candidateOperation = "signalClient(didReceiveCandidate:)";
constexpr const char* newStateOperation = "peerConnection newState";

/// The DTLS certificate fingerprint line of an SDP text; empty when it has none. Every peer
/// connection has a certificate of its own.
std::string fingerprintOf(const std::string& sdp) {
    const auto start = sdp.find("a=fingerprint:");
    return start == std::string::npos ? "" : sdp.substr(start, sdp.find_first_of("\r\n", start) - start);
}

std::exception_ptr resettingError() { return std::make_exception_ptr(PlatformError("", 0, "Resetting connection")); }

std::exception_ptr closingError() {
    return std::make_exception_ptr(PlatformError("", 0, "Closing WebRTC peer connection"));
}

std::exception_ptr missingConnectionError() {
    return std::make_exception_ptr(PlatformError("", 0, "Peer connection has not been created"));
}

/// `work`, rejected with `expiry` when it has not settled after `seconds` on the process clock.
/// Without a positive bound, `work` itself.
Promise<void> withDeadline(const Promise<void>& work, int seconds, const std::string& expiry,
                           const DispatchQueuePtr& queue) {
    if (seconds <= 0) return work;
    auto bounded = Promise<void>::pending();
    work.pipeTo(bounded.resolver);
    Clock::current()->scheduleDetached(queue, seconds, [resolver = bounded.resolver, expiry] {
        resolver.reject(PlatformError("", 0, expiry));
    });
    return bounded.promise;
}

std::vector<rtc::IceServer> iceServers(const std::vector<IceServer>& servers) {
    std::vector<rtc::IceServer> converted;
    for (const auto& server : servers) converted.push_back({server.urls, server.username, server.credential});
    return converted;
}

rtc::PeerConnectionConfiguration peerConnectionConfiguration(const ConnectionInformation& information) {
    rtc::PeerConnectionConfiguration configuration;
    configuration.iceServers = iceServers(information.iceServers);
    return configuration;
}

rtc::IceCandidate toRtc(const SignalIceCandidate& candidate) {
    return {candidate.sdpMid.value_or(""), candidate.sdpMLineIndex, candidate.candidate};
}

SignalIceCandidate toSignal(const rtc::IceCandidate& candidate) {
    return {candidate.sdp, candidate.sdpMLineIndex, candidate.sdpMid};
}

/// Adds one of the peer's candidates. WebRTC's verdict on a candidate it could read is not
/// looked at; one it cannot read fails the promise.
Promise<void> addCandidate(const std::shared_ptr<rtc::PeerConnection>& connection, const rtc::IceCandidate& candidate) {
    return connection->addIceCandidate(candidate).recover([](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const rtc::RtcError& failure) {
            if (failure.type() == "SYNTAX_ERROR") throw;
        }
        return Promise<void>::value();
    });
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

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

// --- Construction -------------------------------------------------------------------------------

std::shared_ptr<WebRtcClient> WebRtcClient::create(const TransportLayerConfiguration& configuration,
                                                   MqttTransportFactory makeTransport) {
    const auto& session = configuration.session;
    const bool answerSide = configuration.role == WebRtcClientRole::answer;
    const auto offerTopic = session.topic + "/offer";
    const auto answerTopic = session.topic + "/answer";
    const auto& broker = configuration.connectionInformation.mqtt;
    if (!SignalClient::brokerPort(broker.ports)) {
        if (configuration.logger) {
            configuration.logger->error(true, "Quorvane", "WebRtcClient", "init",
                                        "Signal server web socket port unavailable");
        }
        return nullptr;
    }
    std::shared_ptr<SignalClient> signals;
    try {
        signals = SignalClient::create(configuration.services, broker, configuration.username, session.token,
                                       answerSide ? session.answerClient : session.offerClient, session.topic,
                                       answerSide ? offerTopic : answerTopic, answerSide ? answerTopic : offerTopic,
                                       configuration.timeout, configuration.logger, std::move(makeTransport));
    } catch (const std::invalid_argument& error) {
        ClassLogger(configuration.logger, "WebRtcClient").error("init", error.what());
        return nullptr;
    }
    std::shared_ptr<WebRtcClient> client(new WebRtcClient(configuration, std::move(signals)));
    client->delegate_ = configuration.delegate;
    client->signals_->setDelegate(client);
    client->dataChannelManager_->setDelegate(client);
    return client;
}

std::shared_ptr<TransportLayer> makeWebRtcClient(const TransportLayerConfiguration& configuration) {
    return WebRtcClient::create(configuration);
}

WebRtcClient::WebRtcClient(const TransportLayerConfiguration& configuration, std::shared_ptr<SignalClient> signals)
    : log_(configuration.logger, "WebRtcClient"),
      queue_(DispatchQueue::create("WebRtcClient")),
      role_(configuration.role),
      configuration_(peerConnectionConfiguration(configuration.connectionInformation)),
      timeout_(configuration.timeout),
      signals_(std::move(signals)),
      dataChannelManager_(std::make_shared<WebRtcChunkAdapter>(configuration.logger)),
      hasPeerConnection_(Promise<std::shared_ptr<rtc::PeerConnection>>::pending()),
      receivedRemoteSession_(Promise<void>::pending()),
      connected_(Promise<void>::pending()) {}

WebRtcClient::~WebRtcClient() {
    log_.debug("Deinit", "WebRtcClient deinitialized");
    signals_->tearDown();
    dataChannelManager_->closeDataChannel();
    if (peerConnection_) peerConnection_->close();
    stopCapture();
}

// --- Queue helpers ------------------------------------------------------------------------------

template <class Step>
Promise<void> WebRtcClient::onQueue(Step step) {
    auto result = Promise<void>::pending();
    queue_->async([self = shared_from_this(), step = std::move(step), resolver = result.resolver]() mutable {
        firstly([&] { return step(*self); }).pipeTo(resolver);
    });
    return result.promise;
}

template <class Work>
void WebRtcClient::post(Work work) {
    queue_->async([client = weak_from_this(), work = std::move(work)]() mutable {
        if (auto self = client.lock()) work(*self);
    });
}

template <class Work>
void WebRtcClient::runOnQueue(Work work) {
    if (queue_->isCurrent()) {
        work();
    } else {
        queue_->sync(work);
    }
}

template <class Report>
void WebRtcClient::report(Report report) const {
    if (auto delegate = delegate_.lock()) report(*delegate);
}

std::shared_ptr<WebRtcClient> WebRtcClient::current(const std::weak_ptr<WebRtcClient>& client, Generation generation) {
    auto self = client.lock();
    if (!self || !self->peerConnection_) std::rethrow_exception(missingConnectionError());
    if (self->generation_ != generation) std::rethrow_exception(resettingError());
    return self;
}

// --- Transport layer ----------------------------------------------------------------------------

void WebRtcClient::setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) {
    runOnQueue([&] { delegate_ = std::move(delegate); });
}

Promise<void> WebRtcClient::connectAsOffer() {
    return onQueue([](WebRtcClient& self) { return self.startConnect(true); });
}

Promise<void> WebRtcClient::connectAsAnswer() {
    return onQueue([](WebRtcClient& self) { return self.startConnect(false); });
}

Promise<void> WebRtcClient::resetState(bool sendDisconnect) {
    return onQueue([sendDisconnect](WebRtcClient& self) { return self.terminalReset(sendDisconnect); });
}

Promise<void> WebRtcClient::reconnect() {
    return onQueue([](WebRtcClient& self) { return self.startReconnect(); });
}

Promise<void> WebRtcClient::sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                                        std::shared_ptr<SessionMetrics> metrics) {
    // The metrics count the message's bytes after the send; only then is a copy kept.
    std::optional<std::vector<std::uint8_t>> counted;
    if (metrics) counted = data;
    return dataChannelManager_->sendData(std::move(data), category)
        .done([metrics = std::move(metrics), counted = std::move(counted)] {
            if (metrics) metrics->updateMessageMetrics(*counted);
        }, queue_);
}

bool WebRtcClient::addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) {
    post([configuration = std::move(configuration)](WebRtcClient& self) {
        if (self.peerConnected()) {
            self.log_.debug("addVideoStream", "Adding video " + nlohmann::json(configuration->source()).dump());
        }
        self.setupVideoStream(configuration);
    });
    return true;
}

bool WebRtcClient::addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) {
    bool accepted = false;
    runOnQueue([&] {
        if (screenCaptureInitializer_) return;
        screenCaptureInitializer_ = configuration;
        accepted = true;
    });
    if (!accepted) return false;
    post([configuration = std::move(configuration)](WebRtcClient& self) {
        if (self.peerConnected()) self.log_.debug("addScreenSharing", "Adding screen share");
        self.setupScreenShare(configuration);
    });
    return true;
}

// --- Connect, reset, reconnect ------------------------------------------------------------------

Promise<void> WebRtcClient::startConnect(bool asOffer) {
    log_.debug("resetState", "Resetting state");
    terminated_ = false;
    beginGeneration();
    tearDownConnection();
    createRtcConnection();
    log_.debug("resetState", "State reset complete");
    return asOffer ? offerSteps() : signals_->connect();
}

Promise<void> WebRtcClient::offerSteps() {
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    const Generation generation = generation_;
    return signals_->connect()
        .then(
            [client, generation] {
                auto self = client.lock();
                if (!self || !self->peerConnection_ || self->generation_ != generation) {
                    throw QVError("Cannot initialize new session when peer connection doesn't exist");
                }
                auto connection = self->peerConnection_;
                auto channel = connection->createDataChannel();
                if (!channel) throw WebRTCError::notInitialized();
                self->dataChannelManager_->set(std::move(channel));
                self->hasDataChannel_ = true;
                self->makingOffer_ = true;
                return connection->createOffer(std::nullopt, std::nullopt);
            },
            queue_)
        .then(
            [client, generation](const std::string& offer) {
                return current(client, generation)->peerConnection_->setLocalDescription(rtc::SdpType::offer, offer);
            },
            queue_)
        .ensure(
            [client, generation] {
                auto self = client.lock();
                if (self && self->generation_ == generation) self->makingOffer_ = false;
            },
            queue_)
        .then(
            [client, generation](const rtc::SessionDescription& description) {
                auto self = client.lock();
                if (!self) return Promise<void>::value();
                return self->publishOffer(generation, description.sdp);
            },
            queue_);
}

Promise<void> WebRtcClient::publishOffer(Generation generation, const std::string& sdp) {
    if (generation != generation_) return Promise<void>::error(resettingError());
    sentOffer_ = sdp;
    // The peer's offers answered so far are settled: this side's offer opens a new exchange.
    answeredOffer_.reset();
    sentAnswer_.reset();
    return signals_->sendSessionDescription(SdpType::offer, sdp);
}

Promise<void> WebRtcClient::startReconnect() {
    log_.info("reconnect", "Initiating reconnect");
    if (terminated_) return Promise<void>::error(resettingError());
    if (reconnecting_) return *reconnecting_;
    auto connect = firstly([this] { return startConnect(role_ != WebRtcClientRole::answer); });
    const Generation generation = generation_;
    auto opened = connect.then([opened = connected_.promise] { return opened; }, queue_);
    auto bounded = withDeadline(opened, timeout_,
                                "Reconnect did not complete within " + std::to_string(timeout_) + " seconds", queue_);
    reconnecting_ = bounded;
    bounded.ensure(
        [client = weak_from_this(), generation] {
            auto self = client.lock();
            if (self && self->generation_ == generation) self->reconnecting_.reset();
        },
        queue_);
    return bounded;
}

Promise<void> WebRtcClient::terminalReset(bool sendDisconnect) {
    log_.debug("resetState", "Resetting state");
    beginGeneration();
    terminated_ = true;
    stopCapture();
    const Generation generation = generation_;
    auto finish = [self = shared_from_this(), generation] {
        // A connect started meanwhile has already closed what this reset would close.
        if (self->generation_ != generation) return;
        self->tearDownConnection();
        self->log_.debug("resetState", "State reset complete");
    };
    if (!peerConnection_ || !sendDisconnect) {
        finish();
        return Promise<void>::value();
    }
    log_.debug("resetState", "Disconnecting from remote peer");
    // The local teardown does not depend on the peer hearing of it: it follows the signal's
    // outcome, whatever that is, and a failure is passed on afterwards.
    return withDeadline(signals_->sendDisconnect(), timeout_,
                        "Disconnect signal not sent within " + std::to_string(timeout_) + " seconds", queue_)
        .ensure(finish, queue_);
}

void WebRtcClient::beginGeneration() {
    ++generation_;
    reconnecting_.reset();
    makingOffer_ = false;
    answeringOffers_ = 0;
    hasDataChannel_ = false;
    sentOffer_.reset();
    answeredOffer_.reset();
    sentAnswer_.reset();
    peerFingerprint_.reset();
}

void WebRtcClient::tearDownConnection() {
    connected_.resolver.reject(resettingError());
    connected_ = Promise<void>::pending();
    isConnected_ = false;
    receivedRemoteSession_.resolver.reject(resettingError());
    receivedRemoteSession_ = Promise<void>::pending();
    closeRtcConnection();
    signals_->reset();
    candidateIndex_ = 1;
}

void WebRtcClient::endSession() {
    beginGeneration();
    terminated_ = true;
    stopCapture();
    tearDownConnection();
}

void WebRtcClient::createRtcConnection() {
    auto events = std::make_shared<RtcPeerConnectionDelegate>(weak_from_this(), queue_, generation_);
    auto connection = rtc::PeerConnectionFactory::shared()->createPeerConnection(configuration_, events, log_.logger());
    if (!connection) throw WebRTCError::notInitialized();
    peerConnection_ = connection;
    peerConnectionEvents_ = std::move(events);
    hasPeerConnection_.resolver.fulfill(std::move(connection));
    attachMediaTracks();
}

void WebRtcClient::closeRtcConnection() {
    hasPeerConnection_.resolver.reject(closingError());
    hasPeerConnection_ = Promise<std::shared_ptr<rtc::PeerConnection>>::pending();
    dataChannelManager_->closeDataChannel();
    if (peerConnection_) peerConnection_->close();
    peerConnection_.reset();
    peerConnectionEvents_.reset();
}

// --- Media --------------------------------------------------------------------------------------

void WebRtcClient::setupVideoStream(const std::shared_ptr<VideoStreamConfiguration<CameraFormat>>& configuration) {
    setUpStream(cameraContainers_, std::make_shared<CameraMediaStreamContainer>(
                                       configuration, rtc::PeerConnectionFactory::shared(), cameraCaptureFactory_, false));
}

void WebRtcClient::setupScreenShare(const std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>& configuration) {
    setUpStream(screenContainers_, std::make_shared<ScreenCaptureMediaStreamContainer>(
                                       configuration, rtc::PeerConnectionFactory::shared(), screenCaptureFactory_, true));
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

// --- Signaling events ---------------------------------------------------------------------------

void WebRtcClient::signalClientDidReceiveOffer(const std::string& sdp) {
    post([sdp](WebRtcClient& self) { self.handleOffer(sdp); });
}

void WebRtcClient::signalClientDidReceiveAnswer(const std::string& sdp) {
    post([sdp](WebRtcClient& self) { self.handleAnswer(sdp); });
}

void WebRtcClient::signalClientDidReceiveCandidate(const SignalIceCandidate& candidate) {
    post([candidate](WebRtcClient& self) { self.handleCandidate(candidate); });
}

void WebRtcClient::signalClientDidReceiveDisconnect() {
    post([](WebRtcClient& self) { self.handleDisconnect(); });
}

void WebRtcClient::signalClientPeerDidRejoin() {
    post([](WebRtcClient& self) { self.handlePeerRejoin(); });
}

void WebRtcClient::handleOffer(const std::string& sdp) {
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    hasPeerConnection_.promise
        .then(
            [client, sdp](const std::shared_ptr<rtc::PeerConnection>& connection) {
                auto self = client.lock();
                if (!self) return Promise<void>::error(missingConnectionError());
                return self->applyOffer(connection, sdp);
            },
            queue_)
        .catchError(
            [client, sdp](const std::exception_ptr& error) {
                auto self = client.lock();
                if (!self) return;
                self->log_.error(offerOperation, "Failed to handle offer: " + errorDescription(error));
                // An offer that could not be answered is not one that a repeat may skip.
                if (self->answeredOffer_ == sdp && !self->sentAnswer_) self->answeredOffer_.reset();
            },
            queue_);
}

Promise<void> WebRtcClient::applyOffer(const std::shared_ptr<rtc::PeerConnection>& connection, const std::string& sdp) {
    if (connection != peerConnection_) return Promise<void>::error(resettingError());
    // The peer repeats an offer while it waits for the answer: the one answer is made once.
    if (answeredOffer_ == sdp) {
        if (!sentAnswer_) {
            log_.debug(offerOperation, "The peer's offer is being answered already");
            return Promise<void>::value();
        }
        log_.debug(offerOperation, "The peer's offer is answered already; publishing the answer again");
        return signals_->sendSessionDescription(SdpType::answer, *sentAnswer_);
    }
    // An offer of another peer connection than the one negotiated with: the peer has started
    // afresh, and this connection cannot be carried over to it. This side starts afresh too and
    // gets the offer again once it has announced itself anew.
    if (role_ == WebRtcClientRole::answer && peerFingerprint_ && *peerFingerprint_ != fingerprintOf(sdp)) {
        log_.info(offerOperation, "The peer's offer comes from a new peer connection; starting afresh");
        if (!reconnecting_) startOver();
        return Promise<void>::value();
    }
    log_.debug(offerOperation, "Setting remote description to \n" + sdp);
    // Both sides offered at once: the offer side keeps its own offer and drops the peer's, the
    // answer side withdraws its own and answers the peer's.
    const bool localOffer = connection->signalingState() == rtc::SignalingState::haveLocalOffer;
    if ((localOffer || makingOffer_) && role_ != WebRtcClientRole::answer) {
        log_.debug(offerOperation, "Keeping the own pending offer; the peer's offer is not applied");
        return Promise<void>::value();
    }
    Promise<void> ready = Promise<void>::value();
    if (localOffer) {
        log_.debug(offerOperation, "Rolling back the own pending offer for the peer's");
        ready = connection->setLocalDescription(rtc::SdpType::rollback, "").map([](const rtc::SessionDescription&) {});
    }
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    const Generation generation = generation_;
    // Until the answer is set, a negotiation request of this side's would cross it.
    ++answeringOffers_;
    answeredOffer_ = sdp;
    sentAnswer_.reset();
    return ready
        .then([connection, sdp] { return connection->setRemoteDescription(rtc::SdpType::offer, sdp); }, queue_)
        .then(
            [client, generation, connection, sdp](const rtc::SessionDescription&) {
                auto self = current(client, generation);
                self->receivedRemoteSession_.resolver.fulfill();
                self->peerFingerprint_ = fingerprintOf(sdp);
                return connection->createAnswer(std::nullopt, std::nullopt);
            },
            queue_)
        .then(
            [client, generation, connection](const std::string& answer) {
                current(client, generation);
                return connection->setLocalDescription(rtc::SdpType::answer, answer);
            },
            queue_)
        .ensure(
            [client, generation] {
                auto self = client.lock();
                if (!self || self->generation_ != generation) return;
                // Tracks of this side's that the peer's offer had no room for need an offer of
                // this side's; WebRTC's request for it may have come while the answer was made.
                if (--self->answeringOffers_ == 0 && !self->makingOffer_ && self->peerConnection_->hasUnsentTracks()) {
                    self->negotiate(generation);
                }
            },
            queue_)
        .then(
            [client, generation, sdp](const rtc::SessionDescription& description) {
                auto self = client.lock();
                if (!self) return Promise<void>::value();
                if (self->generation_ == generation && self->answeredOffer_ == sdp) self->sentAnswer_ = description.sdp;
                return self->signals_->sendSessionDescription(SdpType::answer, description.sdp);
            },
            queue_);
}

void WebRtcClient::handleAnswer(const std::string& sdp) {
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    hasPeerConnection_.promise
        .then(
            [client, sdp](const std::shared_ptr<rtc::PeerConnection>& connection) {
                auto self = client.lock();
                if (!self) return Promise<void>::error(missingConnectionError());
                if (connection != self->peerConnection_) return Promise<void>::error(resettingError());
                self->log_.debug(answerOperation, "Setting remote description to " + sdp);
                return connection->setRemoteDescription(rtc::SdpType::answer, sdp)
                    .done(
                        [client, generation = self->generation_](const rtc::SessionDescription&) {
                            auto self = client.lock();
                            if (self && self->generation_ == generation) self->receivedRemoteSession_.resolver.fulfill();
                        },
                        self->queue_);
            },
            queue_)
        .catchError(
            [client](const std::exception_ptr& error) {
                if (auto self = client.lock()) self->log_.error(answerOperation, "Failed to handle answer: " + errorDescription(error));
            },
            queue_);
}

void WebRtcClient::handleCandidate(const SignalIceCandidate& candidate) {
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    hasPeerConnection_.promise
        .then(
            [client, candidate = toRtc(candidate)](const std::shared_ptr<rtc::PeerConnection>& connection) {
                auto self = client.lock();
                if (!self) return addCandidate(connection, candidate);
                return self->receivedRemoteSession_.promise.then(
                    [connection, candidate] { return addCandidate(connection, candidate); }, self->queue_);
            },
            queue_)
        .catchError(
            [client](const std::exception_ptr& error) {
                if (auto self = client.lock()) {
                    self->log_.error(candidateOperation, "Failed to handle candidate: " + errorDescription(error));
                }
            },
            queue_);
}

void WebRtcClient::handlePeerRejoin() {
    // A peer that connected to the broker afresh may have missed this side's offer, and without
    // it no answer comes: while that answer is due, the offer goes out again.
    if (role_ == WebRtcClientRole::answer || !sentOffer_ || isConnected_ || !peerConnection_ ||
        peerConnection_->signalingState() != rtc::SignalingState::haveLocalOffer) {
        return;
    }
    log_.debug("signalClientPeerDidRejoin", "Publishing the pending offer again for the peer that announced itself anew");
    signals_->sendSessionDescription(SdpType::offer, *sentOffer_)
        .catchError(
            [client = weak_from_this()](const std::exception_ptr& error) {
                if (auto self = client.lock()) {
                    self->log_.error("signalClientPeerDidRejoin", "Failed to publish the offer again: " + errorDescription(error));
                }
            },
            queue_);
}

void WebRtcClient::handleDisconnect() {
    // Once the session has ended here, a late notice of the peer's changes nothing.
    if (terminated_) return;
    dataChannelManager_->closeDataChannel();
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(true); });
    endSession();
}

// --- Data-channel events ------------------------------------------------------------------------

void WebRtcClient::dataChannelDidChange(DataChannelState state) {
    post([state](WebRtcClient& self) { self.handleDataChannelState(state); });
}

void WebRtcClient::dataChannelDidReceive(const std::vector<std::uint8_t>& data, std::uint16_t id) {
    post([data, id](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerDidReceive(data, id); });
    });
}

void WebRtcClient::dataChannelWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                 std::uint16_t numChunksReceived, std::uint16_t totalChunks) {
    post([=](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) {
            delegate.transportLayerWillReceiveMessage(id, category, numChunksReceived, totalChunks);
        });
    });
}

void WebRtcClient::dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) {
    post([data, id](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerFailedToSend(data, id); });
    });
}

void WebRtcClient::dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    post([id, category](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerFailedToReceiveMessage(id, category); });
    });
}

void WebRtcClient::dataChannelFiredHeartbeatTimeout() {
    post([](WebRtcClient& self) { self.handleHeartbeatTimeout(); });
}

void WebRtcClient::handleDataChannelState(DataChannelState state) {
    log_.debug("dataChannelDidChangeState", "dataChannel did change state: " + std::string(toString(state)));
    // Only the opening of this generation's channel counts, and only once.
    if (state != DataChannelState::open || !hasDataChannel_) return;
    if (!connected_.resolver.fulfill()) return;
    isConnected_ = true;
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerEstablishedConnection(); });
}

void WebRtcClient::handleHeartbeatTimeout() {
    // A late time-out of a channel already left (every reset leaves it, a terminal one too), or
    // one while a reconnect runs, starts nothing.
    if (reconnecting_ || !hasDataChannel_) return;
    startOver();
}

void WebRtcClient::startOver() {
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerWillResetConnection(); });
    auto reconnected = startReconnect();
    reconnected.catchError(
        [client = weak_from_this(), generation = generation_](const std::exception_ptr& error) {
            auto self = client.lock();
            // A reset since then has taken over.
            if (!self || self->generation_ != generation) return;
            self->log_.error("reconnect", "Unexpected disconnect from webRTC");
            self->log_.error("checkForHeartbeat", errorDescription(error));
            self->endSession();
            self->report([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(false); });
        },
        queue_);
}

// --- Peer-connection events ---------------------------------------------------------------------

void WebRtcClient::didChangeSignalingState(rtc::SignalingState state) {
    log_.debug("peerConnection didChange", "peerConnection new signaling state: " + std::string(stateText(state)));
}

void WebRtcClient::didAddReceiver(const std::vector<std::string>& codecNames) {
    log_.debug("peerConnection didAdd", "peerConnection did add track with codecs: " + joined(codecNames));
}

void WebRtcClient::didChangeConnectionState(Generation generation, rtc::PeerConnectionState state) {
    const auto message = "Connection state changed to " + std::string(stateText(state));
    if (generation == generation_) {
        connectedGeneration_ = state == rtc::PeerConnectionState::connected ? std::optional(generation) : std::nullopt;
    }
    if (state == rtc::PeerConnectionState::failed) {
        // Recovery is left to the heartbeat time-out.
        log_.warn(newStateOperation, message);
        return;
    }
    log_.debug(newStateOperation, message);
    if (state == rtc::PeerConnectionState::connected && generation == generation_) startCapture();
}

void WebRtcClient::shouldNegotiate(Generation generation) {
    log_.debug("peerConnectionShouldNegotiate", "peerConnection should negotiate");
    if (generation != generation_ || !peerConnection_ || makingOffer_ || answeringOffers_ > 0) return;
    negotiate(generation);
}

void WebRtcClient::negotiate(Generation generation) {
    if (!signals_->isConnected() || !signals_->hasJoined()) return;
    auto connection = peerConnection_;
    if (connection->signalingState() != rtc::SignalingState::stable) return;
    makingOffer_ = true;
    auto self = shared_from_this();
    connection->createOffer(std::nullopt, std::nullopt)
        .then(
            [self, generation, connection](const std::string& offer) {
                if (self->generation_ != generation) std::rethrow_exception(resettingError());
                return connection->setLocalDescription(rtc::SdpType::offer, offer);
            },
            queue_)
        .ensure(
            [self, generation] {
                if (self->generation_ == generation) self->makingOffer_ = false;
            },
            queue_)
        .then(
            [self, generation](const rtc::SessionDescription& description) {
                return self->publishOffer(generation, description.sdp);
            },
            queue_)
        .catchError(
            [self](const std::exception_ptr& error) {
                self->log_.error("peerConnectionShouldNegotiate", errorDescription(error));
            },
            queue_);
}

void WebRtcClient::didChangeIceConnectionState(Generation generation, rtc::IceConnectionState state) {
    log_.debug(newStateOperation, "peerConnection new ice connection state: " + std::string(stateText(state)));
    if (state == rtc::IceConnectionState::failed && generation == generation_ && peerConnection_) {
        peerConnection_->restartIce();
    }
}

void WebRtcClient::didChangeIceGatheringState(rtc::IceGatheringState state) {
    log_.debug(newStateOperation, "peerConnection new ice gathering state: " + std::string(stateText(state)));
}

void WebRtcClient::didGenerateIceCandidate(Generation generation, const rtc::IceCandidate& candidate) {
    // A candidate of a connection already left would only mislead the peer.
    if (generation != generation_) return;
    log_.debug("peerConnection didGenerate", "peerConnection did generate candidate: " + std::to_string(candidateIndex_));
    signals_->sendIceCandidate(toSignal(candidate), candidateIndex_)
        .catchError(
            [client = weak_from_this()](const std::exception_ptr& error) {
                if (auto self = client.lock()) {
                    self->log_.error("peerConnection didGenerate",
                                     "Error sending ICE candidate to MQTT server: " + errorDescription(error));
                }
            },
            queue_);
    ++candidateIndex_;
}

void WebRtcClient::didRemoveIceCandidates() {
    log_.debug("peerConnection didRemove", "peerConnection did remove candidate(s)");
}

void WebRtcClient::didOpenDataChannel(Generation generation, std::shared_ptr<rtc::RtcDataChannel> channel) {
    log_.debug("peerConnection didOpen", "peerConnection did open data channel");
    if (generation != generation_) return;
    dataChannelManager_->set(std::move(channel));
    hasDataChannel_ = true;
}

}  // namespace quorvane
