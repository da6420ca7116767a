#pragma once

#include <chrono>
#include <memory>

#include "rtc/PeerConnection.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "support/PeerSide.hpp"

namespace quorvane::testing {

/// Two peer connections of this process connected over loopback, with the session's data channel
/// open on both sides: the offer side's own channel and the one the answer side received. Offer
/// and answer go through the promise wrappers; candidates go straight from one side to the other.
class LoopbackPeerPair {
public:
    /// Connects; throws std::runtime_error when a step fails or the channels are not open within
    /// `timeout`.
    explicit LoopbackPeerPair(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    /// Releases the channels, then closes the connections.
    ~LoopbackPeerPair();
    LoopbackPeerPair(const LoopbackPeerPair&) = delete;
    LoopbackPeerPair& operator=(const LoopbackPeerPair&) = delete;

    rtc::PeerConnection& offerConnection() const;
    rtc::PeerConnection& answerConnection() const;
    const std::shared_ptr<rtc::RtcDataChannel>& offerChannel() const { return offerChannel_; }
    const std::shared_ptr<rtc::RtcDataChannel>& answerChannel() const { return answerChannel_; }

private:
    std::shared_ptr<PeerSide> offer_;
    std::shared_ptr<PeerSide> answer_;
    std::shared_ptr<rtc::RtcDataChannel> offerChannel_;
    std::shared_ptr<rtc::RtcDataChannel> answerChannel_;
};

}  // namespace quorvane::testing
