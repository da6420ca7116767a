#include "support/LoopbackPeerPair.hpp"

#include <stdexcept>
#include <thread>

#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::testing {

using Clock = std::chrono::steady_clock;

namespace {

void waitUntilOpen(const rtc::RtcDataChannel& channel, Clock::time_point deadline) {
    while (channel.state() != DataChannelState::open) {
        if (Clock::now() > deadline) throw std::runtime_error("The data channel did not open");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

LoopbackPeerPair::LoopbackPeerPair(std::chrono::milliseconds timeout)
    // Candidates go straight to the other side. The connections end before the sides do, and no
    // report comes afterwards.
    : offer_(std::make_shared<PeerSide>([this](rtc::IceCandidate c) { answer_->addRemoteCandidate(std::move(c)); })),
      answer_(std::make_shared<PeerSide>([this](rtc::IceCandidate c) { offer_->addRemoteCandidate(std::move(c)); })) {
    auto deadline = Clock::now() + timeout;
    auto factory = rtc::PeerConnectionFactory::shared();
    factory->setLoopbackOnly(true);
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
    if (!answerChannel_) throw std::runtime_error("The answer side received no data channel");
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
