#include <gtest/gtest.h>

#include <algorithm>

#include "formats/MessageFrameWriter.hpp"
#include "support/TimeScale.hpp"
#include "support/WebRtcFailure.hpp"
#include "transport/WebRtcChunkAdapterTesting.hpp"
#include "util/ErrorDescription.hpp"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::vector<std::size_t> messageSizes{0, 1, 15359, 15360, 15361, 1 << 20, 16 << 20};

/// "pending", "fulfilled" or "rejected: " and the error's text.
std::string outcome(const Promise<void>& send) {
    if (send.isPending()) return "pending";
    return send.isFulfilled() ? "fulfilled" : "rejected: " + errorDescription(send.error());
}

class AdapterPairTest : public AdapterTest {
protected:
    AdapterPairTest() {
        left = makeAdapter();
        right = makeAdapter();
        leftHears = makeDelegate(left);
        rightHears = makeDelegate(right);
    }

    /// Attaches a fresh channel pair to the two adapters and opens it.
    std::pair<InMemoryDataChannel::Pointer, InMemoryDataChannel::Pointer> connect(LinkFaults faults = {},
                                                                                  std::uint32_t seed = 1) {
        auto [leftEnd, rightEnd] = makePair(seed);
        leftEnd->setFaults(faults);
        rightEnd->setFaults(faults);
        left->set(leftEnd);
        right->set(rightEnd);
        leftEnd->open();
        settle();
        return {leftEnd, rightEnd};
    }

    /// Every message sent from one side is delivered at most once and intact, and accounted for:
    /// delivered, or (with failures allowed) reported failed by its sender; both when its
    /// acknowledgement was lost.
    static void expectEachOnceOrFailed(const std::vector<Bytes>& sent, const RecordingAdapterDelegate& receiver,
                                       const RecordingAdapterDelegate& sender, bool allowFailures) {
        for (std::uint16_t id = 0; id < sent.size(); ++id) {
            SCOPED_TRACE("message " + std::to_string(id) + " of " + std::to_string(sent[id].size()) + " bytes");
            int deliveries = 0;
            for (const auto& delivery : receiver.delivered) {
                if (delivery.id != id) continue;
                ++deliveries;
                EXPECT_TRUE(delivery.data == sent[id]) << "delivered bytes differ";
            }
            int failures = 0;
            for (const auto& failure : sender.failedToSend) failures += failure.id == id ? 1 : 0;
            EXPECT_LE(deliveries, 1);
            EXPECT_LE(failures, 1);
            if (!allowFailures) {
                EXPECT_EQ(deliveries, 1);
                EXPECT_EQ(failures, 0);
            } else {
                EXPECT_GE(deliveries + failures, 1) << "neither delivered nor reported failed";
            }
        }
    }

    std::shared_ptr<WebRtcChunkAdapter> left, right;
    std::shared_ptr<RecordingAdapterDelegate> leftHears, rightHears;
};

}  // namespace

TEST_F(AdapterPairTest, MessagesOfEverySizeArriveIntactOnceBothWays) {
    connect();
    std::vector<Bytes> fromLeft, fromRight;
    std::vector<Promise<void>> writes;
    for (std::size_t i = 0; i < messageSizes.size(); ++i) {
        fromLeft.push_back(pattern(messageSizes[i], static_cast<std::uint8_t>(i)));
        fromRight.push_back(pattern(messageSizes[i], static_cast<std::uint8_t>(100 + i)));
        writes.push_back(left->sendData(fromLeft.back(), 7));
        writes.push_back(right->sendData(fromRight.back(), 8));
    }
    advance(3);
    for (const auto& write : writes) EXPECT_TRUE(write.isFulfilled());
    expectEachOnceOrFailed(fromLeft, *rightHears, *leftHears, false);
    expectEachOnceOrFailed(fromRight, *leftHears, *rightHears, false);

    advance(300, 5);  // acknowledged: nothing is resent or reported later
    expectEachOnceOrFailed(fromLeft, *rightHears, *leftHears, false);
    expectEachOnceOrFailed(fromRight, *leftHears, *rightHears, false);
    EXPECT_TRUE(leftHears->failedToReceive.empty());
    EXPECT_TRUE(rightHears->failedToReceive.empty());
}

TEST_F(AdapterPairTest, LossDuplicationAndReorderingNeverDeliverTwiceOrLoseAMessageSilently) {
    connect(LinkFaults{.loss = 0.1, .duplication = 0.1, .reordering = 0.1}, 7);
    std::vector<Bytes> fromLeft, fromRight;
    for (std::size_t i = 0; i < messageSizes.size(); ++i) {
        fromLeft.push_back(pattern(messageSizes[i], static_cast<std::uint8_t>(i)));
        fromRight.push_back(pattern(messageSizes[i], static_cast<std::uint8_t>(100 + i)));
        left->sendData(fromLeft.back(), 1);
        right->sendData(fromRight.back(), 2);
    }
    advance(400, 0.5);
    expectEachOnceOrFailed(fromLeft, *rightHears, *leftHears, true);
    expectEachOnceOrFailed(fromRight, *leftHears, *rightHears, true);
    EXPECT_GE(rightHears->delivered.size() + leftHears->delivered.size(), 2 * messageSizes.size() - 2)
        << "a retry request or resend mends nearly every loss";
}

TEST_F(AdapterPairTest, ALargeMessageWhoseAcknowledgementIsLostIsDeliveredOnceAndReportedOnce) {
    auto [leftEnd, rightEnd] = connect();
    const Bytes big = pattern(3 * 15360, 6);
    rightEnd->refuseWrites(true);  // the acknowledgement is lost on its way back
    left->sendData(big, 2);
    settle();
    ASSERT_EQ(rightHears->delivered.size(), 1u);
    rightEnd->refuseWrites(false);
    advance(400, 5);
    EXPECT_EQ(leftHears->failedToSend.size(), 1u) << "the sender cannot tell it arrived";
    EXPECT_EQ(rightHears->delivered.size(), 1u) << "never delivered twice";
    EXPECT_TRUE(rightHears->failedToReceive.empty());
}

TEST_F(AdapterPairTest, AResendAfterALostAcknowledgementOvertakesATransferOnASlowLinkAndIsDeliveredOnce) {
    auto [leftEnd, rightEnd] = connect();
    leftEnd->setRate(50e3);
    rightEnd->setRate(50e3);
    rightEnd->setFaults(LinkFaults{.loss = 1});  // the acknowledgement is lost
    left->sendData(pattern(200, 1), 1);
    settle();
    advance(1);
    ASSERT_EQ(rightHears->delivered.size(), 1u);
    rightEnd->setFaults({});
    const Bytes transfer = pattern(6 << 20, 2);  // two minutes of the link: the resend comes after 90 s
    left->sendData(transfer, 1);
    advance(200, 0.5);  // steps shorter than the half second the channel's gate lets it buffer
    ASSERT_EQ(rightHears->delivered.size(), 2u) << "the short message once, then the transfer";
    EXPECT_TRUE(rightHears->delivered[1].data == transfer);
    EXPECT_TRUE(leftHears->failedToSend.empty());
    EXPECT_TRUE(rightHears->failedToReceive.empty());
}

TEST_F(AdapterPairTest, ABurstPastTheMessageIdsIsRefusedAtOnceBeyondThemAndArrivesOnceWithinThemOnALiveChannel) {
    auto [leftEnd, rightEnd] = connect();
    constexpr std::uint32_t ids = 65536, beyond = 1000;
    auto message = [](std::uint32_t i) {
        return Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i >> 16)};
    };
    leftEnd->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // every id is taken before any goes out
    std::vector<Promise<void>> sends;
    for (std::uint32_t i = 0; i < ids; ++i) sends.push_back(left->sendData(message(i), 1));
    settle();
    const auto refusing = std::chrono::steady_clock::now();
    for (std::uint32_t i = ids; i < ids + beyond; ++i) sends.push_back(left->sendData(message(i), 1));
    settleUntil([&] { return !sends.back().isPending(); });
    EXPECT_LT(std::chrono::steady_clock::now() - refusing, std::chrono::seconds(5 * timeScale()))
        << "each refused at once, not after a look at every id, holding up all else on the queue";
    leftEnd->holdBufferedAmount(0);
    advance(10, 0.25);

    for (std::uint32_t i = 0; i < ids + beyond; ++i) {
        if (sends[i].isPending() || (i < ids) != sends[i].isFulfilled()) ADD_FAILURE() << "send " << i << ": " << outcome(sends[i]);
    }
    EXPECT_EQ(webRtcFailure(sends.back()), WebRTCError::Kind::failedToSendData);
    std::vector<int> arrivals(ids + beyond);
    for (const auto& delivery : rightHears->delivered) {
        ++arrivals.at(delivery.data.at(0) | delivery.data.at(1) << 8 | delivery.data.at(2) << 16);
    }
    EXPECT_EQ(std::count(arrivals.begin(), arrivals.begin() + ids, 1), ids) << "each accepted message arrives once";
    EXPECT_EQ(std::count(arrivals.begin() + ids, arrivals.end(), 0), beyond);
    EXPECT_EQ(leftHears->timeouts + rightHears->timeouts, 0);

    advance(120, 5);  // a resend, if an acknowledgement was dropped past its bound, is not delivered again
    EXPECT_TRUE(leftHears->failedToSend.empty());
    EXPECT_EQ(rightHears->delivered.size(), ids);
    auto next = left->sendData(message(0), 1);
    settle();
    EXPECT_EQ(outcome(next), "fulfilled");
}

TEST_F(AdapterPairTest, ProgressIsReportedPerFrameBeforeTheDelivery) {
    connect();
    left->sendData(pattern(3 * 15360, 1), 4);
    settle();
    ASSERT_EQ(rightHears->progress.size(), 3u);
    for (std::uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rightHears->progress[i].received, i + 1);
        EXPECT_EQ(rightHears->progress[i].total, 3);
        EXPECT_EQ(rightHears->progress[i].category, 4);
    }
    EXPECT_EQ(rightHears->delivered.size(), 1u);
}

TEST_F(AdapterPairTest, AResetFailsTheTransfersOnTheLostChannelAtOnceAndWritesShortMessagesAgainOnTheNextOne) {
    auto [leftEnd, rightEnd] = connect();
    leftEnd->setFaults(LinkFaults{.loss = 1});  // the peer no longer reads
    const std::vector<Bytes> sent{pattern(100, 1), pattern(3 * 15360, 2), pattern(100, 3), pattern(3 * 15360, 4)};
    std::vector<Promise<void>> sends;
    sends.push_back(left->sendData(sent[0], 1));  // in the lost channel
    settle();
    leftEnd->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    sends.push_back(left->sendData(sent[1], 1));  // its first frame at the lost channel's gate, the others queued
    sends.push_back(left->sendData(sent[2], 1));  // queued
    sends.push_back(left->sendData(sent[3], 1));
    settle();
    left->closeDataChannel();
    right->closeDataChannel();
    settle();
    ASSERT_EQ(leftHears->failedToSend.size(), 1u) << "at once";
    EXPECT_EQ(leftHears->failedToSend[0].id, 1);
    EXPECT_EQ(logged("Failed to send large message with id 1, timed out").size(), 1u);
    EXPECT_EQ(outcome(sends[1]), "rejected: Resetting connection") << "as it was reported";

    advance(30);  // a reset every 30 s, each channel lost before it carried anything
    connect().first->setFaults(LinkFaults{.loss = 1});
    advance(30);
    left->closeDataChannel();
    right->closeDataChannel();
    connect();
    advance(1);
    ASSERT_EQ(rightHears->delivered.size(), 3u) << "no time-out waited for";
    EXPECT_TRUE(rightHears->delivered[0].data == sent[0] || rightHears->delivered[0].data == sent[2]);
    EXPECT_TRUE(rightHears->delivered[2].data == sent[3]) << "the resent ones go ahead";
    advance(300, 5);
    EXPECT_EQ(rightHears->delivered.size(), 3u);
    EXPECT_EQ(leftHears->failedToSend.size(), 1u);
    EXPECT_TRUE(rightHears->failedToReceive.empty()) << "no frame of the failed transfer follows on the new channel";
    const std::vector<std::string> outcomes{outcome(sends[0]), outcome(sends[1]), outcome(sends[2]), outcome(sends[3])};
    EXPECT_EQ(outcomes, (std::vector<std::string>{"fulfilled", "rejected: Resetting connection", "fulfilled",
                                                  "fulfilled"}))
        << "the given-up transfer's frames left behind never make it sent";
}

TEST_F(AdapterPairTest, ATransferCutByAResetNeverJoinsTheMessageThatComesUnderItsIdAfterTheCounterWrapped) {
    auto [leftEnd, rightEnd] = connect();
    leftEnd->setRate(16e3);  // a frame a second
    left->sendData(pattern(3 * 15360, 1), 1);
    advance(2.5, 0.5);
    ASSERT_EQ(rightHears->progress.size(), 2u) << "two of its three frames arrived";
    left->closeDataChannel();
    right->closeDataChannel();
    settle();
    ASSERT_EQ(leftHears->failedToSend.size(), 1u);

    connect();
    for (int i = 1; i < 65536; ++i) left->sendData({static_cast<std::uint8_t>(i)}, 1);
    settleUntil([&] { return rightHears->delivered.size() == 65535; });
    ASSERT_EQ(rightHears->delivered.size(), 65535u);
    const Bytes next = pattern(4 * 15360, 2);
    left->sendData(next, 1);
    settle();
    ASSERT_EQ(rightHears->delivered.size(), 65536u);
    EXPECT_TRUE(rightHears->delivered.back().data == next) << "delivered whole and as sent";
    advance(30);
    EXPECT_EQ(leftHears->failedToSend.size(), 1u) << "acknowledged";
}

TEST_F(AdapterPairTest, ARestartedPeersFrameNeverJoinsTheMessageItsPredecessorWasCutOffIn) {
    connect().first->setRate(16e3);  // a frame a second
    left->sendData(pattern(3 * 15360, 1), 1);
    advance(2.5, 0.5);
    ASSERT_EQ(rightHears->progress.size(), 2u) << "two of its three frames arrived";

    // Its process ends; the next one's ids start again, and the first two frames of its own
    // message take the long way round.
    left = makeAdapter();
    leftHears = makeDelegate(left);
    const auto newLeft = connect().first;
    newLeft->setRate(16e3);
    newLeft->setFaults(LinkFaults{.reordering = 1, .reorderDelay = 3});
    const Bytes next = pattern(3 * 15360, 2);
    auto sent = left->sendData(next, 1);
    advance(2.5, 0.5);
    newLeft->setFaults({});
    advance(1);
    ASSERT_EQ(rightHears->progress.size(), 3u) << "its last frame arrived first";
    advance(30);
    ASSERT_EQ(rightHears->delivered.size(), 1u);
    EXPECT_TRUE(rightHears->delivered[0].data == next) << "delivered whole and as sent";
    EXPECT_EQ(rightHears->failedToReceive, std::vector<std::uint16_t>{0}) << "the one cut off";
    EXPECT_EQ(outcome(sent), "fulfilled");
    EXPECT_TRUE(leftHears->failedToSend.empty()) << "acknowledged";
}

TEST_F(AdapterPairTest, WhatWasQueuedAboutAMessageOfAnEarlierChannelNeverSettlesARestartedPeersMessageUnderItsId) {
    struct Case {
        const char* name;
        std::vector<std::uint16_t> positions;  // of the earlier message that arrive
        double wait;                           // for what this side writes back about it
    };
    const Case cases[] = {
        {"its acknowledgement", {0, 1, 2}, 1},
        {"its retry requests and failure frame", {0}, 120},
    };
    for (const auto& [name, positions, wait] : cases) {
        SCOPED_TRACE(name);
        left = makeAdapter();
        leftHears = makeDelegate(left);
        right = makeAdapter();
        rightHears = makeDelegate(right);
        auto [oldLeft, oldRight] = connect();
        // The right side cannot write: what it has to say about the peer's message waits in its
        // queue, behind short messages of its own (one at the gate; each report of a channel that
        // is going or not yet open fails the one waiting for the connection).
        oldRight->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
        for (std::uint8_t seed = 0; seed < 6; ++seed) right->sendData(pattern(10, seed), 1);
        settle();
        const Bytes old = pattern(3 * 15360, 1);
        for (std::uint16_t position : positions) {
            ASSERT_TRUE(oldLeft->send(MessageFrameWriter::chunkedMessage(
                                          0, 1, position, 3, std::span<const std::uint8_t>(old).subspan(position * 15360u, 15360)),
                                      true));
        }
        advance(wait, 5);
        ASSERT_EQ(rightHears->delivered.size() + rightHears->failedToReceive.size(), 1u);

        // The peer's process ends; the next one's ids start again, and its message under id 0
        // waits at its gate until this side's queue has had its say on the new channel.
        left = makeAdapter();
        leftHears = makeDelegate(left);
        auto [newLeft, newRight] = makePair(2);
        newLeft->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
        left->set(newLeft);
        right->set(newRight);
        const Bytes next = pattern(4 * 15360, 2);  // of another chunk count: never a late frame of the old one
        auto sent = left->sendData(next, 1);
        newLeft->open();
        settle();
        newLeft->holdBufferedAmount(0);
        advance(150, 5);
        const auto arrivals = std::count_if(rightHears->delivered.begin(), rightHears->delivered.end(),
                                            [&](const auto& delivery) { return delivery.data == next; });
        EXPECT_EQ(arrivals, 1) << "delivered whole";
        EXPECT_TRUE(leftHears->failedToSend.empty());
        EXPECT_EQ(outcome(sent), "fulfilled");
    }
}

TEST_F(AdapterPairTest, AShortMessageWhoseWriteFailsAtAResetWaitsForItsNextWriteOrTheSessionsEnd) {
    connect();
    left->closeDataChannel();
    auto delivered = left->sendData(pattern(100, 1), 1);
    settle();
    left->closeDataChannel();  // another reset: the frame waiting for the connection fails
    settle();
    EXPECT_EQ(outcome(delivered), "pending") << "it will be written again";
    connect();
    EXPECT_EQ(outcome(delivered), "fulfilled");
    EXPECT_EQ(rightHears->delivered.size(), 1u);

    left->closeDataChannel();
    auto ended = left->sendData(pattern(100, 2), 1);
    settle();
    left->closeDataChannel();
    settle();
    left->shutDown();
    settle();
    EXPECT_EQ(outcome(ended), "rejected: The data channel is closed");
}

TEST_F(AdapterPairTest, AtTheSessionsEndOnlyWhatWasNotWrittenWholeFailsAndShutDownAndReleaseAgree) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "shut down");
        left = makeAdapter();
        leftHears = makeDelegate(left);
        auto [leftEnd, rightEnd] = connect();
        rightEnd->setFaults(LinkFaults{.loss = 1});  // no acknowledgement comes back
        auto written = left->sendData(pattern(3 * 15360, 1), 1);
        settle();
        ASSERT_EQ(outcome(written), "fulfilled");
        leftEnd->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
        auto cut = left->sendData(pattern(3 * 15360, 2), 1);
        settle();
        if (release) {
            left.reset();
        } else {
            left->shutDown();
        }
        settle();
        EXPECT_EQ(outcome(written), "fulfilled");
        EXPECT_EQ(outcome(cut), "rejected: The data channel is closed");
        EXPECT_TRUE(leftHears->failedToSend.empty()) << "the transfer written whole waits for its answer's time-out";
        EXPECT_TRUE(logged("Failed to send large message").empty());
    }
}

TEST_F(AdapterPairTest, ReleasingAnAdapterRejectsEverySendStillWaiting) {
    auto [leftEnd, rightEnd] = connect();
    leftEnd->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    std::vector<Promise<void>> sends;
    for (std::size_t size : {std::size_t{100}, std::size_t{3 * 15360}, std::size_t{100}}) {
        sends.push_back(left->sendData(pattern(size, 1), 1));
    }
    settle();
    left.reset();
    settle();
    for (const auto& send : sends) {
        EXPECT_NE(outcome(send), "pending");
        EXPECT_NE(outcome(send), "fulfilled");
    }
    EXPECT_EQ(outcome(sends.back()), "rejected: The data channel is closed");
}

TEST_F(AdapterPairTest, HandingOverAChannelReleasesTheOldGateAndWaitsForTheNewChannelToOpen) {
    auto [oldLeft, oldRight] = connect();
    oldLeft->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    auto transfer = left->sendData(pattern(3 * 15360, 3), 1);  // its first frame waits at the old channel's gate
    left->sendData(pattern(10, 1), 1);
    settle();

    auto [newLeft, newRight] = makePair(2);
    left->set(newLeft);
    right->set(newRight);
    left->sendData(pattern(10, 2), 1);  // the new channel is still connecting
    settle();
    newLeft->open();
    settle();
    // The released frame went to the old channel, where the peer may no longer listen.
    const auto& delivered = rightHears->delivered;
    EXPECT_TRUE(std::any_of(delivered.begin(), delivered.end(), [](const auto& delivery) {
        return delivery.data == pattern(10, 2);
    })) << "neither stuck behind the old gate nor refused by the new channel";
    ASSERT_EQ(leftHears->failedToSend.size(), 1u);
    EXPECT_EQ(outcome(transfer), "rejected: Resetting connection")
        << "given up with the old channel: its frames left behind never make it sent";
}

TEST_F(AdapterPairTest, OnlyTheCurrentChannelIsHeard) {
    auto [oldLeft, oldRight] = connect();
    const auto oldWrapper = oldLeft->observer();  // alive, as when its report is under way
    connect();
    oldLeft->close();  // the old channel's late reports must not reset the send queue
    advance(10);       // nor its silence report a time-out
    left->sendData(pattern(10, 1), 1);
    settle();
    EXPECT_EQ(rightHears->delivered.size(), 1u);
    EXPECT_EQ(leftHears->timeouts, 0);

    left->closeDataChannel();  // a deliberate close reports no heartbeat time-out
    advance(20);
    EXPECT_EQ(leftHears->timeouts, 0);
    EXPECT_GE(rightHears->timeouts, 1) << "the peer that lost its channel hears the silence";
}

TEST_F(AdapterPairTest, HeartbeatsKeepAnIdleChannelAlive) {
    connect();
    advance(30);
    EXPECT_EQ(leftHears->timeouts, 0);
    EXPECT_EQ(rightHears->timeouts, 0);
    EXPECT_TRUE(leftHears->delivered.empty()) << "heartbeats are not messages";
}
