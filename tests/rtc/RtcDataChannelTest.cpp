#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "support/ChannelEndpoint.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/Pattern.hpp"

namespace quorvane::rtc {
namespace {

using quorvane::testing::patternByte;
using quorvane::testing::patterned;
using quorvane::testing::ChannelEndpoint;
using quorvane::testing::LoopbackPeerPair;
using namespace std::chrono_literals;

constexpr std::size_t kFrameSize = 16 * 1024;
constexpr std::size_t kFrameHeader = 4;
constexpr std::size_t kFramePayload = kFrameSize - kFrameHeader;

std::size_t frameCount(std::uint64_t size) { return (size + kFramePayload - 1) / kFramePayload; }

/// Sends `size` patterned bytes as frames of a 4-byte index and up to kFramePayload bytes.
void sendBatch(ChannelEndpoint& endpoint, std::uint64_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> frame(kFrameSize);
    for (std::uint32_t index = 0; index < frameCount(size); ++index) {
        std::uint64_t begin = std::uint64_t{index} * kFramePayload;
        std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kFramePayload, size - begin));
        std::memcpy(frame.data(), &index, kFrameHeader);
        for (std::size_t i = 0; i < length; ++i) frame[kFrameHeader + i] = patternByte(begin + i, seed);
        ASSERT_TRUE(endpoint.send({frame.data(), kFrameHeader + length})) << "frame " << index;
    }
}

/// Checks that every frame came, once (the channel is unordered), with the bytes sent at its index.
void expectBatch(std::vector<std::vector<std::uint8_t>> frames, std::uint64_t size, std::uint8_t seed) {
    ASSERT_EQ(frames.size(), frameCount(size));
    std::vector<bool> seen(frameCount(size));
    for (const auto& frame : frames) {
        ASSERT_GE(frame.size(), kFrameHeader);
        std::uint32_t index = 0;
        std::memcpy(&index, frame.data(), kFrameHeader);
        ASSERT_LT(index, seen.size());
        ASSERT_FALSE(seen[index]) << "frame " << index << " came twice";
        seen[index] = true;
        std::uint64_t begin = std::uint64_t{index} * kFramePayload;
        ASSERT_EQ(frame.size() - kFrameHeader, std::min<std::uint64_t>(kFramePayload, size - begin));
        for (std::size_t i = kFrameHeader; i < frame.size(); ++i) {
            ASSERT_EQ(frame[i], patternByte(begin + i - kFrameHeader, seed)) << "frame " << index;
        }
    }
}

class RtcDataChannelTest : public ::testing::Test {
protected:
    LoopbackPeerPair pair;
};

TEST_F(RtcDataChannelTest, OpensOnBothSidesUnorderedWithoutARetransmissionLimit) {
    for (const auto& channel : {pair.offerChannel(), pair.answerChannel()}) {
        EXPECT_EQ(channel->state(), DataChannelState::open);
        EXPECT_EQ(channel->label(), "quorvane");
        EXPECT_FALSE(channel->ordered());
        EXPECT_EQ(channel->maxRetransmits(), std::nullopt);
        EXPECT_EQ(channel->bufferedAmount(), 0u);
    }
    EXPECT_EQ(pair.offerConnection().signalingState(), SignalingState::stable);
    EXPECT_EQ(pair.answerConnection().signalingState(), SignalingState::stable);
}

TEST_F(RtcDataChannelTest, MessagesAroundTheChunkSizeCrossBothWaysIntact) {
    auto offer = ChannelEndpoint::attach(pair.offerChannel());
    auto answer = ChannelEndpoint::attach(pair.answerChannel());
    const std::vector<std::size_t> sizes = {0, 1, 15360, 15361};
    for (auto size : sizes) {
        auto data = patterned(size, 1);
        ASSERT_TRUE(offer->send(data));
        ASSERT_TRUE(answer->send(data));
    }
    for (const auto& receiver : {offer, answer}) {
        ASSERT_TRUE(receiver->waitForMessages(sizes.size(), 20s));
        auto messages = receiver->takeMessages();
        // Unordered delivery: match by size, which differs for each message.
        std::sort(messages.begin(), messages.end(), [](auto& a, auto& b) { return a.size() < b.size(); });
        ASSERT_EQ(messages.size(), sizes.size());
        for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(messages[i], patterned(sizes[i], 1));
    }
}

TEST_F(RtcDataChannelTest, MessagesSentBeforeTheObserverIsSetAreNotLost) {
    auto offer = ChannelEndpoint::attach(pair.offerChannel());
    ASSERT_TRUE(offer->send(patterned(100, 7)));
    ASSERT_TRUE(offer->send(patterned(200, 7)));
    std::this_thread::sleep_for(200ms);  // let them arrive while the answer side has no observer

    auto answer = ChannelEndpoint::attach(pair.answerChannel());
    ASSERT_TRUE(answer->waitForMessages(2, 20s));
    EXPECT_EQ(answer->receivedBytes(), 300u);
}

TEST_F(RtcDataChannelTest, AnObserverOfAnOpenChannelHearsOpenOnce) {
    auto waitForStates = [](ChannelEndpoint& endpoint) {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (endpoint.states().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(100ms);  // room for a second report, which must not come
        return endpoint.states();
    };
    auto first = ChannelEndpoint::attach(pair.answerChannel());
    EXPECT_EQ(waitForStates(*first), std::vector{DataChannelState::open});

    // A replacing observer learns it as well; the one it replaced hears nothing more.
    auto second = ChannelEndpoint::attach(pair.answerChannel());
    EXPECT_EQ(waitForStates(*second), std::vector{DataChannelState::open});
    EXPECT_EQ(first->states().size(), 1u);
}

TEST_F(RtcDataChannelTest, LargeBatchesCrossBothWaysIntactBehindTheBufferedAmountGate) {
    auto offer = ChannelEndpoint::attach(pair.offerChannel());
    auto answer = ChannelEndpoint::attach(pair.answerChannel());
    for (std::uint64_t size : {std::uint64_t{1} << 20, std::uint64_t{64} << 20}) {
        SCOPED_TRACE(size);
        std::size_t offerBefore = offer->messageCount();
        std::size_t answerBefore = answer->messageCount();
        std::thread fromAnswer([&] { sendBatch(*answer, size, 2); });
        sendBatch(*offer, size, 3);
        fromAnswer.join();
        // The channel gives no frame up, however many it has to send again.
        EXPECT_TRUE(answer->waitForMessages(answerBefore + frameCount(size), 60s));
        EXPECT_TRUE(offer->waitForMessages(offerBefore + frameCount(size), 60s));
        expectBatch(answer->takeMessages(), size, 3);
        expectBatch(offer->takeMessages(), size, 2);
    }
}

TEST_F(RtcDataChannelTest, ClosingIsReportedOnBothSides) {
    auto offer = ChannelEndpoint::attach(pair.offerChannel());
    auto answer = ChannelEndpoint::attach(pair.answerChannel());
    pair.offerChannel()->close();
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (pair.answerChannel()->state() != DataChannelState::closed && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(pair.offerChannel()->state(), DataChannelState::closed);
    EXPECT_EQ(pair.answerChannel()->state(), DataChannelState::closed);
    EXPECT_EQ(offer->states().back(), DataChannelState::closed);
    EXPECT_EQ(answer->states().back(), DataChannelState::closed);
    EXPECT_FALSE(pair.offerChannel()->send(patterned(10, 0), true));
}

TEST(RtcDataChannelLifecycle, PairsCanBeMadeAndTornDownRepeatedly) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        LoopbackPeerPair pair;
        auto offer = ChannelEndpoint::attach(pair.offerChannel());
        auto answer = ChannelEndpoint::attach(pair.answerChannel());
        ASSERT_TRUE(offer->send(patterned(1000, 5)));
        ASSERT_TRUE(answer->send(patterned(1000, 5)));
        ASSERT_TRUE(offer->waitForMessages(1, 20s));
        ASSERT_TRUE(answer->waitForMessages(1, 20s));
    }
}

TEST(RtcDataChannelLifecycle, AChannelOutlivingItsConnectionIsClosedAndHarmless) {
    std::shared_ptr<RtcDataChannel> channel;
    {
        LoopbackPeerPair pair;
        channel = pair.offerChannel();
    }
    EXPECT_EQ(channel->state(), DataChannelState::closed);
    EXPECT_FALSE(channel->send(patterned(10, 0), true));
    channel->close();
}

}  // namespace
}  // namespace quorvane::rtc
