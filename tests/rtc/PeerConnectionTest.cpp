#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "rtc/RtcError.hpp"

namespace quorvane::rtc {
namespace {

using ::testing::HasSubstr;

/// Records what one connection reports.
class RecordingObserver : public PeerConnectionObserver {
public:
    std::vector<SignalingState> signalingStates;
    std::vector<IceGatheringState> gatheringStates;
    std::vector<IceCandidate> candidates;
    int negotiationRequests = 0;

    /// Waits (at most 20 s) until `done` holds; it runs under the lock.
    template <class Done>
    bool waitUntil(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return done(); });
    }

    void peerConnectionDidChangeSignalingState(const std::shared_ptr<PeerConnection>&, SignalingState state) override {
        record([&] { signalingStates.push_back(state); });
    }
    void peerConnectionShouldNegotiate(const std::shared_ptr<PeerConnection>&) override {
        record([&] { ++negotiationRequests; });
    }
    void peerConnectionDidChangeIceGatheringState(const std::shared_ptr<PeerConnection>&,
                                                  IceGatheringState state) override {
        record([&] { gatheringStates.push_back(state); });
    }
    void peerConnectionDidGenerateIceCandidate(const std::shared_ptr<PeerConnection>&, IceCandidate candidate) override {
        record([&] { candidates.push_back(std::move(candidate)); });
    }
    void peerConnectionDidAddReceiver(const std::shared_ptr<PeerConnection>&, std::vector<std::string>) override {}
    void peerConnectionDidChangeConnectionState(const std::shared_ptr<PeerConnection>&, PeerConnectionState) override {}
    void peerConnectionDidChangeIceConnectionState(const std::shared_ptr<PeerConnection>&,
                                                   IceConnectionState) override {}
    void peerConnectionDidRemoveIceCandidates(const std::shared_ptr<PeerConnection>&,
                                              std::vector<IceCandidate>) override {}
    void peerConnectionDidOpenDataChannel(const std::shared_ptr<PeerConnection>&,
                                          std::shared_ptr<RtcDataChannel>) override {}

    std::mutex mutex;

private:
    template <class Change>
    void record(Change change) {
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }

    std::condition_variable changed;
};

class PeerConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto factory = PeerConnectionFactory::shared();
        factory->setLoopbackOnly(true);
        connection = factory->createPeerConnection({}, observer);
        ASSERT_NE(connection, nullptr);
    }

    std::shared_ptr<RecordingObserver> observer = std::make_shared<RecordingObserver>();
    std::shared_ptr<PeerConnection> connection;
};

/// The RtcError a rejected promise carries; fails the test for any other outcome.
template <class T>
RtcError rejectionOf(const Promise<T>& promise) {
    try {
        promise.wait();
    } catch (const RtcError& error) {
        return error;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "rejected with another error: " << error.what();
        return RtcError("", "");
    }
    ADD_FAILURE() << "fulfilled";
    return RtcError("", "");
}

TEST_F(PeerConnectionTest, OfferCarriesTheDataChannelAndIsSetAsGiven) {
    ASSERT_NE(connection->createDataChannel(), nullptr);
    auto offer = connection->createOffer(std::nullopt, std::nullopt).wait();
    EXPECT_THAT(offer, HasSubstr("m=application"));
    EXPECT_THAT(offer, ::testing::Not(HasSubstr("m=video")));

    auto applied = connection->setLocalDescription(SdpType::offer, offer).wait();
    EXPECT_EQ(applied, (SessionDescription{SdpType::offer, offer}));
    EXPECT_EQ(connection->signalingState(), SignalingState::haveLocalOffer);
}

TEST_F(PeerConnectionTest, RollbackWithdrawsAPendingOffer) {
    ASSERT_NE(connection->createDataChannel(), nullptr);
    auto offer = connection->createOffer(std::nullopt, std::nullopt).wait();
    connection->setLocalDescription(SdpType::offer, offer).wait();

    connection->setLocalDescription(SdpType::rollback, "").wait();
    EXPECT_EQ(connection->signalingState(), SignalingState::stable);
    EXPECT_EQ(rejectionOf(connection->setLocalDescription(SdpType::rollback, "")).type(), "INVALID_STATE");
}

TEST_F(PeerConnectionTest, ConstraintsReachTheOffer) {
    auto offer = connection->createOffer(PeerConnection::Constraints{{"OfferToReceiveVideo", "true"}}, std::nullopt)
                     .wait();
    EXPECT_THAT(offer, HasSubstr("m=video"));
}

TEST_F(PeerConnectionTest, ReportsNegotiationSignalingGatheringAndLoopbackCandidates) {
    ASSERT_NE(connection->createDataChannel(), nullptr);
    EXPECT_TRUE(observer->waitUntil([&] { return observer->negotiationRequests > 0; }));

    auto offer = connection->createOffer(std::nullopt, std::nullopt).wait();
    connection->setLocalDescription(SdpType::offer, offer).wait();
    EXPECT_TRUE(observer->waitUntil([&] {
        return !observer->candidates.empty() && !observer->gatheringStates.empty() &&
               !observer->signalingStates.empty();
    }));

    std::lock_guard lock(observer->mutex);
    EXPECT_EQ(observer->signalingStates.front(), SignalingState::haveLocalOffer);
    EXPECT_EQ(observer->gatheringStates.front(), IceGatheringState::gathering);
    for (const auto& candidate : observer->candidates) {
        EXPECT_EQ(candidate.sdpMid, "0");
        EXPECT_EQ(candidate.sdpMLineIndex, 0);
        EXPECT_THAT(candidate.sdp, HasSubstr(" 127.0.0.1 ")) << "only loopback may be used";
    }
}

TEST_F(PeerConnectionTest, WebRtcFailuresArePassedOnUnchanged) {
    auto answer = rejectionOf(connection->createAnswer(std::nullopt, std::nullopt));
    EXPECT_EQ(answer.type(), "INVALID_STATE");
    EXPECT_THAT(answer.what(), HasSubstr("answer"));

    auto garbage = rejectionOf(connection->setRemoteDescription(SdpType::offer, "not sdp"));
    EXPECT_EQ(garbage.type(), "SYNTAX_ERROR");

    auto offer = connection->createOffer(std::nullopt, std::nullopt).wait();
    auto wrongState = rejectionOf(connection->setLocalDescription(SdpType::answer, offer));
    EXPECT_FALSE(std::string(wrongState.what()).empty());

    auto badCandidate = rejectionOf(connection->addIceCandidate({"0", 0, "candidate:nonsense"}));
    EXPECT_EQ(badCandidate.type(), "SYNTAX_ERROR");

    auto early = rejectionOf(connection->addIceCandidate(
        {"0", 0, "candidate:1 1 udp 2122260223 127.0.0.1 40000 typ host generation 0"}));
    EXPECT_FALSE(std::string(early.what()).empty()) << "no remote description yet";
}

TEST_F(PeerConnectionTest, AClosedConnectionRefusesEverything) {
    connection->close();
    EXPECT_EQ(connection->signalingState(), SignalingState::closed);
    EXPECT_EQ(rejectionOf(connection->createOffer(std::nullopt, std::nullopt)).type(), "INVALID_STATE");
    EXPECT_EQ(rejectionOf(connection->createAnswer(std::nullopt, std::nullopt)).type(), "INVALID_STATE");
    EXPECT_EQ(connection->createDataChannel(), nullptr);
}

TEST_F(PeerConnectionTest, OperationsStillRunningWhenTheConnectionGoesAreSettled) {
    ASSERT_NE(connection->createDataChannel(), nullptr);
    auto offer = connection->createOffer(std::nullopt, std::nullopt);
    auto answer = connection->createAnswer(std::nullopt, std::nullopt);
    connection.reset();
    // Either outcome will do; what matters is that nobody waits for ever.
    try {
        offer.wait();
    } catch (const RtcError&) {
    }
    EXPECT_THROW(answer.wait(), RtcError);
}

}  // namespace
}  // namespace quorvane::rtc
