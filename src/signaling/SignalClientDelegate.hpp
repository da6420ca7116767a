#pragma once

#include <string>

#include "signaling/SignalIceCandidate.hpp"

namespace quorvane {

/// What SignalClient reports to its owner (the peer connection): the signals the peer sent. Every
/// report comes synchronously on the client's queue "signalClientQueue", one message at a time,
/// in arrival order.
class SignalClientDelegate {
public:
    virtual ~SignalClientDelegate() = default;

    /// The SDP text of the peer's offer.
    virtual void signalClientDidReceiveOffer(const std::string& sdp) = 0;
    /// The SDP text of the peer's answer.
    virtual void signalClientDidReceiveAnswer(const std::string& sdp) = 0;
    /// One ICE candidate of the peer.
    virtual void signalClientDidReceiveCandidate(const SignalIceCandidate& candidate) = 0;
    /// The peer leaves the session.
    virtual void signalClientDidReceiveDisconnect() = 0;
    /// The peer announced itself anew after this side had joined: it has connected to the broker
    /// afresh, and what was published to it before may never have reached it.
    virtual void signalClientPeerDidRejoin() = 0;
};

}  // namespace quorvane
