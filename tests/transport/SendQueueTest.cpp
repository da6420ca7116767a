#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "async/Clock.hpp"
#include "log/ZephLogger.hpp"
#include "quorvane/Errors.hpp"
#include "support/InMemoryDataChannel.hpp"
#include "support/Settle.hpp"
#include "support/WebRtcFailure.hpp"
#include "transport/SendQueue.hpp"

using namespace quorvane;
using quorvane::testing::webRtcFailure;
using quorvane::testing::InMemoryDataChannel;

namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> frame(std::uint8_t tag) { return std::vector<std::uint8_t>(8, tag); }

class SendQueueTest : public ::testing::Test {
protected:
    SendQueueTest() {
        std::tie(local, remote) = InMemoryDataChannel::makePair();
        local->recordSentFrames();
        wrapper = DataChannelWrapper::create(local, nullptr, queue, {});
        wrapper->attach();
    }

    void settle() {
        quorvane::testing::settle({local->callbackQueue(), remote->callbackQueue(), queue},
                                  [this] { return local->framesSent(); });
    }

    /// Opens the channel and tells the send queue, as the adapter does.
    void connect() {
        local->open();
        sendQueue->didConnect();
        settle();
    }

    ScopedVirtualClock clock;
    DispatchQueuePtr queue = DispatchQueue::create("WebRtcChunkAdapter");
    std::shared_ptr<SendQueue> sendQueue = std::make_shared<SendQueue>(queue);
    InMemoryDataChannel::Pointer local, remote;
    std::shared_ptr<DataChannelWrapper> wrapper;
};

}  // namespace

TEST_F(SendQueueTest, FramesWaitForTheChannelToOpen) {
    sendQueue->set(wrapper);
    auto waiting = sendQueue->enqueue(frame(1));
    settle();
    EXPECT_TRUE(waiting.isPending());
    connect();
    EXPECT_TRUE(waiting.isFulfilled());
    EXPECT_EQ(local->sentFrames(), Frames{frame(1)});
}

TEST_F(SendQueueTest, OneFrameInFlightAndPriorityFramesOvertakeWaitingOnes) {
    sendQueue->set(wrapper);
    connect();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // the first frame stalls at the gate
    settle();
    std::vector<Promise<void>> sent;
    sent.push_back(sendQueue->enqueue(frame(1)));
    sent.push_back(sendQueue->enqueue(frame(2), false, false));
    sent.push_back(sendQueue->enqueue(frame(3)));
    sent.push_back(sendQueue->enqueue(frame(4), true));
    sent.push_back(sendQueue->enqueue(frame(5)));
    sent.push_back(sendQueue->enqueue(frame(6), true));
    settle();
    EXPECT_EQ(local->framesSent(), 0u);

    local->holdBufferedAmount(0);
    settle();
    for (const auto& promise : sent) EXPECT_TRUE(promise.isFulfilled());
    EXPECT_EQ(local->sentFrames(), (Frames{frame(1), frame(4), frame(6), frame(3), frame(5), frame(2)}));
}

TEST_F(SendQueueTest, DisconnectFailsOnlyTheFrameWaitingForTheConnection) {
    sendQueue->set(wrapper);
    auto first = sendQueue->enqueue(frame(1));
    auto second = sendQueue->enqueue(frame(2));
    auto third = sendQueue->enqueue(frame(3));
    sendQueue->didDisconnect();
    settle();
    EXPECT_EQ(webRtcFailure(first), WebRTCError::Kind::connectionReset);
    EXPECT_TRUE(second.isPending());
    EXPECT_TRUE(third.isPending());

    connect();
    sendQueue->didConnect();  // a second report changes nothing
    settle();
    EXPECT_TRUE(second.isFulfilled() && third.isFulfilled());
    EXPECT_EQ(local->sentFrames(), (Frames{frame(2), frame(3)}));
}

TEST_F(SendQueueTest, AFrameAlreadyWithTheWrapperFollowsTheWrite) {
    sendQueue->set(wrapper);
    connect();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    settle();
    auto atGate = sendQueue->enqueue(frame(1));
    settle();
    sendQueue->didDisconnect();
    auto next = sendQueue->enqueue(frame(2));
    local->holdBufferedAmount(0);
    settle();
    EXPECT_TRUE(atGate.isFulfilled());
    EXPECT_TRUE(next.isPending()) << "waits for the next didConnect";
    sendQueue->didConnect();
    settle();
    EXPECT_TRUE(next.isFulfilled());
}

TEST_F(SendQueueTest, WithoutAWrapperFramesFailOneByOne) {
    auto first = sendQueue->enqueue(frame(1));
    auto second = sendQueue->enqueue(frame(2), true);
    sendQueue->didConnect();
    settle();
    EXPECT_EQ(webRtcFailure(first), WebRTCError::Kind::notInitialized);
    EXPECT_EQ(webRtcFailure(second), WebRTCError::Kind::notInitialized);
}

TEST_F(SendQueueTest, ARefusedFrameFailsAloneAndTheQueueMovesOn) {
    sendQueue->set(wrapper);
    connect();
    local->refuseWrites(true);
    auto refused = sendQueue->enqueue(frame(1));
    settle();
    local->refuseWrites(false);
    auto next = sendQueue->enqueue(frame(2));
    settle();
    EXPECT_EQ(webRtcFailure(refused), WebRTCError::Kind::failedToSendData);
    EXPECT_TRUE(next.isFulfilled());
}

TEST_F(SendQueueTest, AClosingChannelDoesNotStallTheQueue) {
    sendQueue->set(wrapper);
    connect();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    settle();
    auto atGate = sendQueue->enqueue(frame(1));
    auto behind = sendQueue->enqueue(frame(2));
    settle();
    sendQueue->didDisconnect();  // as the adapter does: the queue hears first, then the channel closes
    wrapper->close();
    settle();
    EXPECT_EQ(webRtcFailure(atGate), WebRTCError::Kind::failedToSendData);
    EXPECT_TRUE(behind.isPending()) << "stays queued for the next channel";

    auto [nextLocal, nextRemote] = InMemoryDataChannel::makePair();
    auto next = DataChannelWrapper::create(nextLocal, nullptr, queue, {});
    next->attach();
    sendQueue->set(next);
    nextLocal->open();
    sendQueue->didConnect();
    settle();
    EXPECT_TRUE(behind.isFulfilled());
    EXPECT_EQ(nextLocal->framesSent(), 1u);
}

TEST_F(SendQueueTest, ControlFramesQueuedFasterThanTheQueueTurnsAreWrittenNotDropped) {
    sendQueue->set(wrapper);
    connect();
    // Queued while the owner's queue is busy, as acknowledgements are under a burst of received
    // messages: each frame the channel takes at once must not wait for a turn of its own.
    std::promise<void> release;
    queue->async([busy = release.get_future().share()] { busy.wait(); });
    std::vector<Promise<void>> writes;
    for (std::size_t i = 0; i < SendQueue::maxWaitingControlFrames + 500; ++i) {
        writes.push_back(sendQueue->enqueueControl([i] { return frame(static_cast<std::uint8_t>(i)); }, true));
    }
    release.set_value();
    settle();
    const auto written = std::count_if(writes.begin(), writes.end(), [](const auto& write) { return write.isFulfilled(); });
    EXPECT_EQ(static_cast<std::size_t>(written), writes.size()) << "none dropped";
    EXPECT_EQ(local->sentFrames().size(), writes.size());
}
