// WebRtcClient: signaling and peer-connection events; offers, answers and candidates.

#include "connection/RtcStateText.hpp"
#include "connection/WebRtcClientSupport.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "rtc/RtcError.hpp"
#include "signaling/SignalClient.hpp"
#include "transport/WebRtcChunkAdapter.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

constexpr const char* offerOperation = "signalClient(didReceiveOffer:)";
constexpr const char* answerOperation = "signalClient(didReceiveAnswer:)";
constexpr const char* candidateOperation = "signalClient(didReceiveCandidate:)";

/// The DTLS certificate fingerprint line of an SDP text; empty when it has none. Every peer
/// connection has a certificate of its own.
std::string fingerprintOf(const std::string& sdp) {
    const auto start = sdp.find("a=fingerprint:");
    return start == std::string::npos ? "" : sdp.substr(start, sdp.find_first_of("\r\n", start) - start);
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

}  // namespace

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
                if (self && self->generation_ == generation) --self->answeringOffers_;
            },
            queue_)
        .then(
            [client, generation, sdp](const rtc::SessionDescription& description) {
                auto self = client.lock();
                if (!self) return Promise<void>::value();
                if (self->generation_ == generation && self->answeredOffer_ == sdp) self->sentAnswer_ = description.sdp;
                return self->signals_->sendSessionDescription(SdpType::answer, description.sdp);
            },
            queue_)
        .done(
            [client, generation] {
                auto self = client.lock();
                if (!self || self->generation_ != generation) return;
                // Tracks of this side's that the peer's offer had no room for need an offer of
                // this side's. WebRTC asks for it while the answer is made, when the request is
                // not acted on; and after a reconnect the broker may hand over the peer's offer
                // before the peer has joined, when no offer may be made yet. The answer goes out
                // only once the peer has joined, so the offer follows it.
                if (self->answeringOffers_ == 0 && !self->makingOffer_ && self->peerConnection_->hasUnsentTracks()) {
                    self->negotiate(generation);
                }
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
    // Ended before it is reported: the host hearing of it finds the session over.
    endSession();
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(true); });
}

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
