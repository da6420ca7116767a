#include "support/LoopbackPeerPair.hpp"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::testing {

using Clock = std::chrono::steady_clock;

/// One side of the pair: passes its candidates to the other side, which adds them once its
/// remote description is in place, and keeps the data channel the peer opened.
class LoopbackPeerPair::Side : public rtc::PeerConnectionObserver {
public:
    std::weak_ptr<Side> peer;

    std::shared_ptr<rtc::PeerConnection> connection() {
        std::lock_guard lock(mutex_);
        return connection_;
    }

    /// The previous connection is released outside the lock: closing it waits for WebRTC's
    /// signaling thread, which may be waiting for the lock in a report.
    void setConnection(std::shared_ptr<rtc::PeerConnection> connection) {
        std::unique_lock lock(mutex_);
        std::swap(connection_, connection);
        lock.unlock();
    }

    /// From now on candidates go straight into the connection; those that came early follow.
    void remoteDescriptionApplied() {
        std::vector<rtc::IceCandidate> early;
        auto target = connection();
        {
            std::lock_guard lock(mutex_);
            remoteApplied_ = true;
            early.swap(early_);
        }
        for (const auto& candidate : early) target->addIceCandidate(candidate);
    }

    std::shared_ptr<rtc::RtcDataChannel> waitForChannel(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!channelArrived_.wait_until(lock, deadline, [this] { return receivedChannel_ != nullptr; })) {
            throw std::runtime_error("The answer side received no data channel");
        }
        return std::move(receivedChannel_);
    }

    void peerConnectionDidGenerateIceCandidate(const std::shared_ptr<rtc::PeerConnection>&,
                                               rtc::IceCandidate candidate) override {
        if (auto other = peer.lock()) other->addRemoteCandidate(std::move(candidate));
    }

    void peerConnectionDidOpenDataChannel(const std::shared_ptr<rtc::PeerConnection>&,
                                          std::shared_ptr<rtc::RtcDataChannel> channel) override {
        std::lock_guard lock(mutex_);
        receivedChannel_ = std::move(channel);
        channelArrived_.notify_all();
    }

    void peerConnectionDidChangeSignalingState(const std::shared_ptr<rtc::PeerConnection>&,
                                               rtc::SignalingState) override {}
    void peerConnectionDidAddReceiver(const std::shared_ptr<rtc::PeerConnection>&,
                                      std::vector<std::string>) override {}
    void peerConnectionDidChangeConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                rtc::PeerConnectionState) override {}
    void peerConnectionShouldNegotiate(const std::shared_ptr<rtc::PeerConnection>&) override {}
    void peerConnectionDidChangeIceConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                   rtc::IceConnectionState) override {}
    void peerConnectionDidChangeIceGatheringState(const std::shared_ptr<rtc::PeerConnection>&,
                                                  rtc::IceGatheringState) override {}
    void peerConnectionDidRemoveIceCandidates(const std::shared_ptr<rtc::PeerConnection>&,
                                              std::vector<rtc::IceCandidate>) override {}

private:
    void addRemoteCandidate(rtc::IceCandidate candidate) {
        std::shared_ptr<rtc::PeerConnection> target;
        {
            std::lock_guard lock(mutex_);
            if (!remoteApplied_) {
                early_.push_back(std::move(candidate));
                return;
            }
            target = connection_;
        }
        if (target) target->addIceCandidate(candidate);
    }

    std::mutex mutex_;
    std::shared_ptr<rtc::PeerConnection> connection_;
    std::condition_variable channelArrived_;
    bool remoteApplied_ = false;
    std::vector<rtc::IceCandidate> early_;
    std::shared_ptr<rtc::RtcDataChannel> receivedChannel_;
};

namespace {

void waitUntilOpen(const rtc::RtcDataChannel& channel, Clock::time_point deadline) {
    while (channel.state() != DataChannelState::open) {
        if (Clock::now() > deadline) throw std::runtime_error("The data channel did not open");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

LoopbackPeerPair::LoopbackPeerPair(std::chrono::milliseconds timeout)
    : offer_(std::make_shared<Side>()), answer_(std::make_shared<Side>()) {
    auto deadline = Clock::now() + timeout;
    auto factory = rtc::PeerConnectionFactory::shared();
    factory->setLoopbackOnly(true);
    offer_->peer = answer_;
    answer_->peer = offer_;
    auto offerer = factory->createPeerConnection({}, offer_);
    auto answerer = factory->createPeerConnection({}, answer_);
    if (!offerer || !answerer) throw std::runtime_error("No peer connection");
    offer_->setConnection(offerer);
    answer_->setConnection(answerer);

    offerChannel_ = offerer->createDataChannel();
    if (!offerChannel_) throw std::runtime_error("No data channel");

    auto offer = offerer->createOffer(std::nullopt, std::nullopt).wait();
    offerer->setLocalDescription(rtc::SdpType::offer, offer).wait();
    answerer->setRemoteDescription(rtc::SdpType::offer, offer).wait();
    answer_->remoteDescriptionApplied();
    auto answer = answerer->createAnswer(std::nullopt, std::nullopt).wait();
    answerer->setLocalDescription(rtc::SdpType::answer, answer).wait();
    offerer->setRemoteDescription(rtc::SdpType::answer, answer).wait();
    offer_->remoteDescriptionApplied();

    answerChannel_ = answer_->waitForChannel(deadline);
    waitUntilOpen(*offerChannel_, deadline);
    waitUntilOpen(*answerChannel_, deadline);
}

LoopbackPeerPair::~LoopbackPeerPair() {
    offerChannel_.reset();
    answerChannel_.reset();
    offer_->setConnection(nullptr);
    answer_->setConnection(nullptr);
}

rtc::PeerConnection& LoopbackPeerPair::offerConnection() const { return *offer_->connection(); }

rtc::PeerConnection& LoopbackPeerPair::answerConnection() const { return *answer_->connection(); }

}  // namespace quorvane::testing
