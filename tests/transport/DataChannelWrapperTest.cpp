#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "async/Clock.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "log/ZephLogger.hpp"
#include "quorvane/Errors.hpp"
#include "support/Eventually.hpp"
#include "support/InMemoryDataChannel.hpp"
#include "support/RecordingChannelObserver.hpp"
#include "support/RecordingLogger.hpp"
#include "support/Settle.hpp"
#include "support/WebRtcFailure.hpp"
#include "transport/DataChannelWrapper.hpp"

using namespace quorvane;
using quorvane::testing::webRtcFailure;
using quorvane::testing::InMemoryDataChannel;

namespace {

class RecordingWrapperDelegate : public QVWebRtcDataChannelDelegate {
public:
    void dataChannelDidChange(DataChannelState state, DataChannelWrapper&) override {
        std::lock_guard lock(mutex_);
        states_.push_back(state);
    }
    void dataChannelDidReceive(std::vector<std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        received_.push_back(std::move(data));
    }
    void dataChannelFiredHeartbeatTimeout(DataChannelWrapper&) override {
        std::lock_guard lock(mutex_);
        ++timeouts_;
    }

    std::vector<DataChannelState> states() const {
        std::lock_guard lock(mutex_);
        return states_;
    }
    std::size_t receivedCount() const {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    int timeouts() const {
        std::lock_guard lock(mutex_);
        return timeouts_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<DataChannelState> states_;
    std::vector<std::vector<std::uint8_t>> received_;
    int timeouts_ = 0;
};

std::vector<std::uint8_t> frame(std::uint8_t tag) { return std::vector<std::uint8_t>(8, tag); }

class DataChannelWrapperTest : public ::testing::Test {
protected:
    DataChannelWrapperTest() { wrapFreshChannel(); }

    /// A new channel pair, wrapped, with a delegate of its own; nothing is open yet.
    void wrapFreshChannel() {
        std::tie(local, remote) = InMemoryDataChannel::makePair();
        local->recordSentFrames();
        remote->setObserver(remoteObserver);
        delegate = std::make_shared<RecordingWrapperDelegate>();
        wrapper = DataChannelWrapper::create(local, logger, queue, delegate);
        wrapper->attach();
    }

    void settle() {
        quorvane::testing::settle({local->callbackQueue(), remote->callbackQueue(), queue}, [this] {
            return local->framesSent() + remote->framesSent() + delegate->states().size() + delegate->receivedCount() +
                   static_cast<std::uint64_t>(delegate->timeouts());
        });
    }

    void openChannel() {
        local->open();
        settle();
    }

    /// Sets the transport's buffered amount and lets the wrapper see the report.
    void buffered(std::uint64_t amount) {
        local->holdBufferedAmount(amount);
        settle();
    }

    std::size_t heartbeatsSent() const {
        std::size_t count = 0;
        for (const auto& sent : local->sentFrames()) count += sent == MessageFrameWriter::heartbeat() ? 1 : 0;
        return count;
    }

    std::vector<LogEntry> entries(const std::string& message) const {
        std::vector<LogEntry> found;
        for (const auto& entry : logger->getLogStore()) {
            if (entry.message == message) found.push_back(entry);
        }
        return found;
    }

    ScopedVirtualClock clock;
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    DispatchQueuePtr queue = DispatchQueue::create("WebRtcChunkAdapter");
    InMemoryDataChannel::Pointer local, remote;
    std::shared_ptr<quorvane::testing::RecordingChannelObserver> remoteObserver =
        std::make_shared<quorvane::testing::RecordingChannelObserver>();
    std::shared_ptr<RecordingWrapperDelegate> delegate = std::make_shared<RecordingWrapperDelegate>();
    std::shared_ptr<DataChannelWrapper> wrapper;
};

}  // namespace

TEST_F(DataChannelWrapperTest, GateClosesAtTheFloorWhenNothingPassedAndOpensAtSixteenKibibytes) {
    openChannel();

    buffered(DataChannelWrapper::gateCloseFloor - 1);
    auto belowClose = wrapper->sendData(frame(1));
    settle();
    EXPECT_TRUE(belowClose.isFulfilled()) << "one byte below the threshold changes nothing";

    buffered(DataChannelWrapper::gateCloseFloor);
    auto waiting = wrapper->sendData(frame(2));
    settle();
    EXPECT_TRUE(waiting.isPending());

    buffered(DataChannelWrapper::gateOpenAmount + 1);
    settle();
    EXPECT_TRUE(waiting.isPending()) << "one byte above the opening threshold changes nothing";

    buffered(DataChannelWrapper::gateOpenAmount);
    EXPECT_TRUE(waiting.isFulfilled());
    EXPECT_EQ(local->sentFrames().back(), frame(2));

    buffered(0);  // a low report on an open gate changes nothing
    auto afterOpen = wrapper->sendData(frame(3));
    settle();
    EXPECT_TRUE(afterOpen.isFulfilled());
}

TEST_F(DataChannelWrapperTest, GateClosesAtHalfWhatTheChannelPassedOnInTheLastSecondWithinItsBounds) {
    struct Case {
        std::uint64_t passed;  // by the channel, some time ago
        double ago;
        std::uint64_t closesAt;
    };
    for (const auto& [passed, ago, closesAt] : {Case{1 << 20, 0.5, 1 << 19},
                                                Case{1 << 20, 1.5, DataChannelWrapper::gateCloseFloor},
                                                Case{20 << 20, 0.0, 10485760}}) {
        SCOPED_TRACE(std::to_string(passed) + " bytes passed on " + std::to_string(ago) + " s ago");
        wrapFreshChannel();
        openChannel();
        // The wrapper must have seen every byte pass on before the clock moves.
        std::atomic<std::uint64_t> seen{0};
        for (std::uint64_t sent = 0; sent < passed; sent += 1 << 20) {
            wrapper->sendData(std::vector<std::uint8_t>(1 << 20), [&seen] { seen += 1 << 20; });
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (seen < passed && std::chrono::steady_clock::now() < deadline) settle();
        ASSERT_EQ(seen, passed);
        clock->advance(ago);
        settle();  // the heartbeat due meanwhile is written and its report heard before the hold

        local->holdTransmission(true);  // what is written now stays buffered
        auto fills = wrapper->sendData(std::vector<std::uint8_t>(closesAt - 1));
        auto reaches = wrapper->sendData(frame(1));  // buffered: one byte below the threshold
        auto waits = wrapper->sendData(frame(2));
        settle();
        EXPECT_TRUE(fills.isFulfilled() && reaches.isFulfilled());
        EXPECT_TRUE(waits.isPending());
        local->holdTransmission(false);
        settle();
        EXPECT_TRUE(waits.isFulfilled());
    }
}

TEST_F(DataChannelWrapperTest, RepeatedHighReportsKeepOneGateAndWritesLeaveInCallOrder) {
    openChannel();
    buffered(DataChannelWrapper::gateCloseAmount);
    auto first = wrapper->sendData(frame(1));
    auto second = wrapper->sendData(frame(2));
    buffered(DataChannelWrapper::gateCloseAmount + 5000);
    auto third = wrapper->sendData(frame(3));
    settle();
    EXPECT_TRUE(first.isPending() && second.isPending() && third.isPending());

    buffered(100);
    EXPECT_TRUE(first.isFulfilled() && second.isFulfilled() && third.isFulfilled());
    EXPECT_EQ(local->sentFrames(), (std::vector<std::vector<std::uint8_t>>{frame(1), frame(2), frame(3)}));
}

TEST_F(DataChannelWrapperTest, GateClosesOnTheBufferedAmountReadBeforeAWriteWithoutAnyReport) {
    openChannel();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount, false);
    auto write = wrapper->sendData(frame(1));
    settle();
    EXPECT_TRUE(write.isPending());
    EXPECT_EQ(local->framesSent(), 0u);

    buffered(0);
    EXPECT_TRUE(write.isFulfilled());
}

TEST_F(DataChannelWrapperTest, RefusedWriteFailsAloneAndLaterWritesGoOn) {
    openChannel();
    local->refuseWrites(true);
    auto refused = wrapper->sendData(frame(1));
    settle();
    local->refuseWrites(false);
    auto next = wrapper->sendData(frame(2));
    settle();
    EXPECT_EQ(webRtcFailure(refused), WebRTCError::Kind::failedToSendData);
    EXPECT_TRUE(next.isFulfilled());
}

TEST_F(DataChannelWrapperTest, WritesWaitingOnTheGateFailWhenTheChannelGoesAway) {
    for (bool closedByPeer : {false, true}) {
        SCOPED_TRACE(closedByPeer ? "closed by the peer" : "closed through the wrapper");
        wrapFreshChannel();
        openChannel();
        buffered(DataChannelWrapper::gateCloseAmount);
        auto waiting = wrapper->sendData(frame(1));
        settle();
        ASSERT_TRUE(waiting.isPending());

        if (closedByPeer) {
            remote->close();
        } else {
            wrapper->close();
        }
        settle();
        ASSERT_FALSE(waiting.isPending()) << "released when the channel goes away";
        EXPECT_EQ(webRtcFailure(waiting), WebRTCError::Kind::failedToSendData);
        EXPECT_EQ(webRtcFailure(wrapper->sendData(frame(2))), WebRTCError::Kind::failedToSendData)
            << "a closed channel never holds a write back";
    }
}

TEST_F(DataChannelWrapperTest, HeartbeatsEverySecondAndOneTimeoutAfterFiveSecondsOfSilence) {
    clock->advance(10);
    settle();
    EXPECT_EQ(heartbeatsSent(), 0u) << "no heartbeat before the channel opens";
    EXPECT_EQ(delegate->timeouts(), 0);

    openChannel();
    for (int second = 1; second <= 4; ++second) {
        clock->advance(1);
        settle();
        EXPECT_EQ(heartbeatsSent(), static_cast<std::size_t>(second));
    }
    EXPECT_EQ(delegate->timeouts(), 0);
    clock->advance(0.9);
    settle();
    EXPECT_EQ(delegate->timeouts(), 0);
    clock->advance(0.2);
    settle();
    EXPECT_EQ(delegate->timeouts(), 1);
    ASSERT_EQ(entries("Heartbeat not received in the last 5.0 seconds").size(), 1u);
    EXPECT_EQ(entries("Heartbeat not received in the last 5.0 seconds")[0].klass, "WebRtcDataChannel");

    for (int second = 0; second < 20; ++second) {
        clock->advance(1);
        settle();
    }
    EXPECT_EQ(delegate->timeouts(), 1) << "one report per silence";
    EXPECT_EQ(heartbeatsSent(), 25u);
    EXPECT_EQ(remoteObserver->received().size(), 25u);
}

TEST_F(DataChannelWrapperTest, ABufferEveryFourSecondsKeepsTheTimeoutAway) {
    openChannel();
    for (int round = 0; round < 6; ++round) {
        clock->advance(4);
        settle();
        remote->send(frame(9), true);
        settle();
    }
    EXPECT_EQ(delegate->timeouts(), 0);
    EXPECT_EQ(delegate->receivedCount(), 6u) << "every buffer reaches the delegate, unread";
}

TEST_F(DataChannelWrapperTest, AHoldUpReportsTheTimeoutAtOnceOnlyWhenThePeerHasTimedOutToo) {
    // What goes on until the process is stopped, at 2.45 s (6.8 s on the slow link).
    enum class Before {
        // The peer's buffers are heard at 0.5 s and 1.5 s, this side's heartbeats go out at 1 s and 2 s.
        steady,
        // A transfer fills the buffer at once and the link carries 40 kB/s: a frame leaves every
        // 0.4 s for some 15 s, and the gate holds every later write back, heartbeats included. The
        // peer is heard every second up to 6 s: the process is stopped some 6 s after its last
        // write was taken, 4.3 s is shorter than what the peer waits.
        slowLink,
        // As steady, and at 2.45 s a large message is written: the channel keeps it in its buffer
        // (the peer's acknowledgements wait in the buffers while the process is stopped, and the
        // buffer drains on waking), and a buffer of the peer heard then waits behind the owner's
        // queue, busy with the message.
        largeMessage,
    };
    struct Case {
        Before before;
        double stalled;        // 0: not held up
        bool timersFirst;      // on waking, the timers that fell due run before what waited in the buffers
        bool peerCloses;       // after the buffer it sent before waking is heard
        double reportedAfter;  // seconds after that buffer (or the close) is heard on waking; 0: at once
    };
    // 4.3 s: this side was last heard by the peer 4.3-4.75 s before waking, so the peer holds the
    // channel and its buffer re-arms the time-out. 7 s: the peer timed out meanwhile. Closed by the
    // peer: the time-out counts from the buffer heard at least a second before the close.
    for (const auto& [before, stalled, timersFirst, peerCloses, reportedAfter] :
         {Case{Before::steady, 4.3, false, false, 5}, Case{Before::steady, 4.3, true, false, 5},
          Case{Before::steady, 7, false, false, 0}, Case{Before::steady, 7, true, false, 0},
          Case{Before::slowLink, 4.3, false, false, 5}, Case{Before::slowLink, 4.3, true, false, 5},
          Case{Before::slowLink, 7, false, false, 0}, Case{Before::slowLink, 7, true, false, 0},
          Case{Before::largeMessage, 4.3, false, false, 5}, Case{Before::largeMessage, 4.3, true, false, 5},
          Case{Before::largeMessage, 7, false, false, 0}, Case{Before::largeMessage, 7, true, false, 0},
          Case{Before::steady, 3.3, false, true, 0.75}, Case{Before::steady, 0, false, true, 3.05}}) {
        const char* what = before == Before::steady ? "steady" : before == Before::slowLink ? "slow link" : "large message";
        SCOPED_TRACE(std::string(what) + ", stalled " + std::to_string(stalled) + " s" +
                     (timersFirst ? ", timers first" : "") + (peerCloses ? ", the peer closes" : ""));
        wrapFreshChannel();
        openChannel();
        if (before == Before::slowLink) {
            local->setRate(40000);
            for (int chunk = 0; chunk < 40; ++chunk) wrapper->sendData(std::vector<std::uint8_t>(16000));
            settle();
            for (int second = 0; second < 6; ++second) {
                clock->advance(1);
                remote->send(frame(9), true);
                settle();
            }
            clock->advance(0.8);
        } else {
            for (int step = 0; step < 4; ++step) {
                clock->advance(0.5);
                if (step % 2 == 0) remote->send(frame(9), true);
                settle();
            }
            ASSERT_EQ(heartbeatsSent(), 2u);
            clock->advance(0.45);
        }
        settle();
        if (before == Before::largeMessage) {
            local->holdTransmission(true);
            for (int chunk = 0; chunk < 13; ++chunk) wrapper->sendData(std::vector<std::uint8_t>(16000));
            settle();
            std::promise<void> done;
            queue->async([busy = done.get_future().share()] { busy.wait(); });
            const auto received = delegate->receivedCount();
            remote->send(frame(9), true);
            ASSERT_TRUE(quorvane::testing::eventually([&] { return delegate->receivedCount() > received; }));
            clock->stall(stalled);
            done.set_value();
        } else {
            clock->stall(stalled);
        }
        settle();
        if (timersFirst) {
            clock->advance(0);
            settle();
        }
        if (before == Before::largeMessage) local->holdTransmission(false);
        remote->send(frame(9), true);  // sent before this side woke
        settle();
        if (peerCloses) {
            remote->close();
            settle();
        }
        clock->advance(0);
        settle();
        if (reportedAfter == 0) {
            EXPECT_EQ(delegate->timeouts(), 1);
            continue;
        }
        EXPECT_EQ(delegate->timeouts(), 0);
        clock->advance(reportedAfter - 0.1);
        settle();
        EXPECT_EQ(delegate->timeouts(), 0);
        clock->advance(0.2);
        settle();
        EXPECT_EQ(delegate->timeouts(), 1);
    }
}

TEST_F(DataChannelWrapperTest, CloseStopsTheReceiveTimeoutAndEndsTheHeartbeats) {
    openChannel();
    for (int second = 0; second < 2; ++second) {
        clock->advance(1);
        settle();
    }
    wrapper->close();
    settle();
    for (int second = 0; second < 10; ++second) {
        clock->advance(1);
        settle();
    }
    EXPECT_EQ(delegate->timeouts(), 0);
    EXPECT_EQ(heartbeatsSent(), 2u);
    EXPECT_EQ(entries("Failed to create heartbeat").size(), 1u);
}

TEST_F(DataChannelWrapperTest, OneHeartbeatWaitsBehindAClosedGate) {
    openChannel();
    buffered(DataChannelWrapper::gateCloseAmount);
    for (int second = 0; second < 120; ++second) {
        clock->advance(1);
        settle();
    }
    EXPECT_EQ(heartbeatsSent(), 0u);
    buffered(0);
    EXPECT_EQ(heartbeatsSent(), 1u);
}

TEST_F(DataChannelWrapperTest, EveryStateChangeReachesTheDelegate) {
    openChannel();
    local->close();
    settle();
    EXPECT_EQ(delegate->states(),
              (std::vector<DataChannelState>{DataChannelState::open, DataChannelState::closing, DataChannelState::closed}));
}

TEST_F(DataChannelWrapperTest, ReleaseIsLogged) {
    wrapper.reset();
    ASSERT_EQ(entries("WebRtcDataChannel deinitialized").size(), 1u);
    EXPECT_EQ(entries("WebRtcDataChannel deinitialized")[0].method, "Deinit");
}
