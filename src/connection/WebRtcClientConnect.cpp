// WebRtcClient: connecting as either side, resets and reconnects.

#include "async/Clock.hpp"
#include "connection/RtcPeerConnectionDelegate.hpp"
#include "connection/WebRtcClientSupport.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "signaling/SignalClient.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane {

namespace {

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

}  // namespace

std::shared_ptr<WebRtcClient> WebRtcClient::current(const std::weak_ptr<WebRtcClient>& client, Generation generation) {
    auto self = client.lock();
    if (!self || !self->peerConnection_) std::rethrow_exception(missingConnectionError());
    if (self->generation_ != generation) std::rethrow_exception(resettingError());
    return self;
}

Promise<void> WebRtcClient::startConnect(bool asOffer) {
    if (terminated_) return Promise<void>::error(std::make_exception_ptr(QVError("The session has ended")));
    log_.debug("resetState", "Resetting state");
    beginGeneration();
    tearDownConnection();
    createRtcConnection();
    log_.debug("resetState", "State reset complete");
    return asOffer ? offerSteps() : signals_->connect();
}

Promise<void> WebRtcClient::firstConnect(bool asOffer) {
    auto connect = firstly([this, asOffer] { return startConnect(asOffer); });
    if (terminated_) return connect;
    connect.catchError(
        [client = weak_from_this(), generation = generation_](const std::exception_ptr&) {
            auto self = client.lock();
            // A reset since then has taken over; otherwise nothing will ever connect this session.
            if (self && self->generation_ == generation) self->endSession();
        },
        queue_);
    return connect;
}

Promise<void> WebRtcClient::offerSteps() {
    const std::weak_ptr<WebRtcClient> client = weak_from_this();
    const Generation generation = generation_;
    // The connection's first offer is this one, made once signaling is connected: a negotiation
    // request of WebRTC's meanwhile would make a second offer alongside it.
    makingOffer_ = true;
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
    dataChannelManager_->shutDown();
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

}  // namespace quorvane
