// Two chunk adapters over the two real data channels of a loopback peer pair.
//
// WebRTC runs in real time. Should a frame or an acknowledgement still go missing, the adapters
// recover only through their time-outs: retry requests after 15 s of silence, swept every 5 s,
// and resends of single-frame messages after 90 s. So the adapters run on a virtual clock that a
// helper thread moves at ten times real time: recovery takes a second or two instead of twenty,
// while every time-out still spans many frame times of the real channel.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "async/Clock.hpp"
#include "log/ZephLogger.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "support/ClockPump.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/Pattern.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane {
namespace {

using quorvane::testing::patternByte;
using quorvane::testing::patterned;
using namespace std::chrono_literals;
using quorvane::testing::ClockPump;
using quorvane::testing::LoopbackPeerPair;

/// Virtual seconds per real second while frames flow.
constexpr double transferSpeed = 10;

/// One adapter's delegate. Checks each delivery against the pattern its peer sends with
/// `peerSeed` right away and keeps only the outcome, so that large messages are not held twice.
class CheckingDelegate : public ChunkAdapterDelegate {
public:
    explicit CheckingDelegate(std::uint8_t peerSeed) : peerSeed_(peerSeed) {}

    struct Delivery {
        int count = 0;
        bool intact = true;
    };

    void dataChannelDidChange(DataChannelState state) override {
        std::lock_guard lock(mutex_);
        states_.push_back(state);
        changed_.notify_all();
    }
    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t) override {
        bool intact = true;
        for (std::size_t i = 0; i < data.size() && intact; ++i) intact = data[i] == patternByte(i, peerSeed_);
        std::lock_guard lock(mutex_);
        auto& delivery = deliveries_[data.size()];
        ++delivery.count;
        delivery.intact = delivery.intact && intact;
        ++deliveryCount_;
        changed_.notify_all();
    }
    void dataChannelWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t) override {
        std::lock_guard lock(mutex_);
        failedToSend_.push_back(data.size());
    }
    void dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t) override {
        std::lock_guard lock(mutex_);
        failedToReceive_.push_back(id);
    }
    void dataChannelFiredHeartbeatTimeout() override {}

    bool waitForDeliveries(std::size_t count, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return deliveryCount_ >= count; });
    }
    bool waitForState(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return !states_.empty(); });
    }

    /// Deliveries by message size.
    std::map<std::size_t, Delivery> deliveries() {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }
    std::vector<DataChannelState> states() {
        std::lock_guard lock(mutex_);
        return states_;
    }
    /// Sizes of the messages reported failed to send, and ids of those failed to receive.
    std::vector<std::size_t> failedToSend() {
        std::lock_guard lock(mutex_);
        return failedToSend_;
    }
    std::vector<std::uint16_t> failedToReceive() {
        std::lock_guard lock(mutex_);
        return failedToReceive_;
    }

private:
    const std::uint8_t peerSeed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DataChannelState> states_;
    std::map<std::size_t, Delivery> deliveries_;
    std::size_t deliveryCount_ = 0;
    std::vector<std::size_t> failedToSend_;
    std::vector<std::uint16_t> failedToReceive_;
};

constexpr std::uint8_t offerSeed = 11;
constexpr std::uint8_t answerSeed = 97;

/// The pair's channels are open before the adapters attach: the answer side's channel arrives
/// through the observer bridge and opens on its own, and the offer side's opens while the
/// connection is set up.
class ChunkAdapterOverWebRtcTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pair.offerChannel()->state(), DataChannelState::open);
        ASSERT_EQ(pair.answerChannel()->state(), DataChannelState::open);
        offer->setDelegate(offerHears);
        answer->setDelegate(answerHears);
        offer->set(pair.offerChannel());
        answer->set(pair.answerChannel());
    }

    void TearDown() override {
        offer->closeDataChannel();
        answer->closeDataChannel();
    }

    /// Log lines of both adapters that contain `text`.
    std::size_t logged(const std::string& text) const {
        std::size_t count = 0;
        for (const auto& entry : logger->getLogStore()) count += entry.message.find(text) != std::string::npos;
        return count;
    }

    ScopedVirtualClock clock;
    LoopbackPeerPair pair;
    ClockPump pump{*clock, transferSpeed};
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::DEBUG, true);
    std::shared_ptr<CheckingDelegate> offerHears = std::make_shared<CheckingDelegate>(answerSeed);
    std::shared_ptr<CheckingDelegate> answerHears = std::make_shared<CheckingDelegate>(offerSeed);
    std::shared_ptr<WebRtcChunkAdapter> offer = std::make_shared<WebRtcChunkAdapter>(logger);
    std::shared_ptr<WebRtcChunkAdapter> answer = std::make_shared<WebRtcChunkAdapter>(logger);
};

TEST_F(ChunkAdapterOverWebRtcTest, AdaptersHandedOpenChannelsHearOpenOnceAndSend) {
    ASSERT_TRUE(offerHears->waitForState(10s));
    ASSERT_TRUE(answerHears->waitForState(10s));

    offer->sendData(patterned(1, offerSeed), 1);
    answer->sendData(patterned(1, answerSeed), 1);
    ASSERT_TRUE(answerHears->waitForDeliveries(1, 10s));
    ASSERT_TRUE(offerHears->waitForDeliveries(1, 10s));

    EXPECT_EQ(offerHears->states(), std::vector{DataChannelState::open});
    EXPECT_EQ(answerHears->states(), std::vector{DataChannelState::open});
}

TEST_F(ChunkAdapterOverWebRtcTest, MessagesOfEverySizeCrossBothWaysAtOnceIntactAndOnce) {
    const std::vector<std::size_t> sizes = {0, 1, 15360, 15361, 1 << 20, 64 << 20};
    std::vector<Promise<void>> writes;
    for (auto size : sizes) {
        writes.push_back(offer->sendData(patterned(size, offerSeed), 3));
        writes.push_back(answer->sendData(patterned(size, answerSeed), 4));
    }
    ASSERT_TRUE(answerHears->waitForDeliveries(sizes.size(), 90s));
    ASSERT_TRUE(offerHears->waitForDeliveries(sizes.size(), 90s));
    for (const auto& write : writes) EXPECT_NO_THROW(write.wait());

    // Past the senders' whole resend window: an acknowledgement lost on the way makes the sender
    // resend, and the receiver must answer that without delivering again.
    pump.setSpeed(100);
    pump.waitFor(240);

    for (const auto& [name, hears] : {std::pair{"offer", offerHears}, std::pair{"answer", answerHears}}) {
        SCOPED_TRACE(name);
        const auto deliveries = hears->deliveries();
        ASSERT_EQ(deliveries.size(), sizes.size());
        for (auto size : sizes) {
            SCOPED_TRACE(size);
            ASSERT_TRUE(deliveries.contains(size));
            EXPECT_EQ(deliveries.at(size).count, 1);
            EXPECT_TRUE(deliveries.at(size).intact);
        }
        EXPECT_EQ(hears->failedToSend(), std::vector<std::size_t>{});
        EXPECT_EQ(hears->failedToReceive(), std::vector<std::uint16_t>{});
    }
    // Whether this run needed the recovery paths depends on what the channel gave up.
    std::cout << "retry requests: " << logged("Sent retry request") << ", single-frame resends: "
              << logged("Resending message") << "\n";
}

TEST_F(ChunkAdapterOverWebRtcTest, AChannelIsHandedOverWhileTheOldOneClosesOnWebRtcsThread) {
    LoopbackPeerPair next;
    // WebRTC's signaling thread is busy when the hand-over registers with the new channel, and
    // then closes the old channel, whose report reaches the adapter meanwhile.
    rtc::PeerConnectionFactory::shared()->postToSignalingThread([channel = pair.offerChannel()] {
        std::this_thread::sleep_for(300ms);
        channel->close();
    });
    auto handedOver = std::async(std::launch::async, [&] { offer->set(next.offerChannel()); });
    if (handedOver.wait_for(20s) != std::future_status::ready) {
        std::fprintf(stderr, "The hand-over and the old channel's report wait for each other\n");
        std::fflush(stderr);
        std::_Exit(1);  // the threads cannot be unblocked
    }
    answer->set(next.answerChannel());

    offer->sendData(patterned(100, offerSeed), 1);
    ASSERT_TRUE(answerHears->waitForDeliveries(1, 20s)) << "the new channel carries the message";
    EXPECT_TRUE(answerHears->deliveries()[100].intact);
}

}  // namespace
}  // namespace quorvane
