#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"
#include "support/ResidentMemory.hpp"
#include "support/WebRtcFailure.hpp"
#include "transport/Chunker.hpp"
#include "transport/WebRtcChunkAdapterTesting.hpp"

using namespace quorvane;
using quorvane::testing::webRtcFailure;
using namespace quorvane::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;

/// One adapter whose channel's far end is driven by hand.
class AdapterProtocolTest : public AdapterTest {
protected:
    void start(WebRtcChunkAdapter::Settings settings = {}) {
        adapter = makeAdapter(settings);
        hears = makeDelegate(adapter);
        std::tie(local, remote) = makePair();
        remote->setObserver(peer);
        adapter->set(local);
        local->open();
        settle();
    }

    void fromPeer(const Bytes& frame) {
        ASSERT_TRUE(remote->send(frame, true));
        settle();
    }

    /// Frames of the adapter's messages that the peer received.
    std::size_t messageFrames() const {
        return peer->frames(MessagePayload::SingleMessageData).size() +
               peer->frames(MessagePayload::ChunkedMessageData).size();
    }

    std::shared_ptr<WebRtcChunkAdapter> adapter;
    std::shared_ptr<RecordingAdapterDelegate> hears;
    InMemoryDataChannel::Pointer local, remote;
    std::shared_ptr<RawPeer> peer = std::make_shared<RawPeer>();
};

/// Notes the size of each delivered message, without keeping it.
class SizeDelegate : public RecordingAdapterDelegate {
public:
    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t) override { delivered = data.size(); }
    std::atomic<std::size_t> delivered{0};
};

}  // namespace

TEST_F(AdapterProtocolTest, EachSideHoldsALargeMessageOnce) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers keep freed memory for a while";
#endif
    constexpr std::size_t size = 64 << 20;
    start();
    auto sizes = std::make_shared<SizeDelegate>();
    adapter->setDelegate(sizes);

    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    auto message = pattern(size, 1);
    auto before = ResidentMemory::read();
    adapter->sendData(std::move(message), 1);
    settle();
    EXPECT_LT(ResidentMemory::read().now, before.now + size / 4) << "frames are made as they are written";

    const Chunker incoming(pattern(size, 2), 7, 1);
    ResidentMemory::resetPeak();
    before = ResidentMemory::read();
    for (std::uint16_t position = 0; position < incoming.chunkCount(); ++position) {
        ASSERT_TRUE(remote->send(incoming.frame(position), true));
        if (position % 64 == 0) settle();
    }
    settle();
    ASSERT_EQ(sizes->delivered, size);
    EXPECT_LT(ResidentMemory::read().peak, before.now + size + size / 4)
        << "each chunk is written once into the message handed over";
}

TEST_F(AdapterProtocolTest, UnacknowledgedShortMessageIsResentThreeTimesThenReportedOnce) {
    start();
    adapter->sendData(pattern(100, 1), 3);
    adapter->sendData(pattern(100, 2), 3);
    adapter->sendData(pattern(100, 3), 3);
    settle();
    const auto first = peer->frames(MessagePayload::SingleMessageData);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].id, 0);
    EXPECT_EQ(first[1].id, 1);
    EXPECT_EQ(first[2].id, 2);
    fromPeer(MessageFrameWriter::messageAck(1, 3));
    fromPeer(MessageFrameWriter::messageAck(2, 3));

    advance(89);
    EXPECT_EQ(messageFrames(), 3u) << "nothing is resent before 90 s";
    advance(6);
    EXPECT_EQ(messageFrames(), 4u);
    EXPECT_EQ(logged("Single chunk message with id 0 timed out. Resending message").size(), 1u);
    for (std::size_t resends = 2; resends <= 3; ++resends) {
        advance(35);
        EXPECT_EQ(messageFrames(), 3 + resends);
    }
    EXPECT_TRUE(hears->failedToSend.empty());
    advance(35);
    EXPECT_EQ(messageFrames(), 6u) << "sent four times in all";
    EXPECT_EQ(logged("Single chunk message with id 0 timed out. Resending message").size(), 3u);
    EXPECT_EQ(logged("Single chunk message with id 0 timed out. Hit max retry limit, message will be dropped").size(), 1u);
    ASSERT_EQ(hears->failedToSend.size(), 1u);
    EXPECT_EQ(hears->failedToSend[0].id, 0);
    EXPECT_TRUE(hears->failedToSend[0].data == pattern(100, 1));

    auto next = adapter->sendData(pattern(5, 9), 3);
    settle();
    EXPECT_EQ(peer->frames(MessagePayload::SingleMessageData).back().id, 3) << "a resend does not advance the counter";
}

TEST_F(AdapterProtocolTest, AResentShortMessageGoesAheadOfTheFramesOfQueuedMessages) {
    start();
    adapter->sendData(pattern(100, 1), 3);
    settle();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    adapter->sendData(pattern(5 * 15360, 2), 3);
    advance(95);  // the short one times out while the transfer waits
    local->holdBufferedAmount(0);
    settle();
    const auto frames = peer->frames();
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[2].payload, MessagePayload::SingleMessageData) << "right behind the frame that was at the gate";
}

TEST_F(AdapterProtocolTest, WaitingAcknowledgementsAreOnePerIdAndBoundedAndRetryRequestsAndTransfersAreKept) {
    start();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // the peer does not read
    fromPeer(MessageFrameWriter::singleMessage(4000, 1, pattern(5, 1)));  // its acknowledgement waits at the gate
    fromPeer(MessageFrameWriter::chunkedMessage(8, 4, 0, 2, Bytes(100, 5)));  // a whole transfer: the oldest
    fromPeer(MessageFrameWriter::chunkedMessage(8, 4, 1, 2, Bytes(100, 6)));  // acknowledgement waiting
    fromPeer(MessageFrameWriter::chunkedMessage(9, 4, 0, 2, Bytes(100, 7)));
    advance(20);  // a retry request waits behind it
    const std::uint16_t flood = SendQueue::maxWaitingControlFrames + 200;
    for (std::uint16_t id = 100; id < 100 + flood; ++id) {
        ASSERT_TRUE(remote->send(MessageFrameWriter::singleMessage(id, 1, pattern(5, 3)), true));
    }
    for (int copy = 0; copy < 300; ++copy) {
        ASSERT_TRUE(remote->send(MessageFrameWriter::singleMessage(5, 1, pattern(5, 2)), true));
    }
    settle();
    local->holdBufferedAmount(0);
    settle();
    std::map<std::uint16_t, int> acks;
    for (const auto& frame : peer->frames(MessagePayload::MessageAck)) ++acks[frame.id];
    EXPECT_EQ(acks[5], 1);
    EXPECT_LE(peer->frames(MessagePayload::MessageAck).size(), SendQueue::maxWaitingControlFrames + 1);
    EXPECT_EQ(acks.count(100), 0u) << "the oldest are dropped";
    EXPECT_EQ(acks.count(100 + flood - 1), 1u);
    EXPECT_EQ(acks.count(4000), 1u);
    EXPECT_EQ(acks.count(8), 1u) << "a transfer is never sent again, so its acknowledgement is never dropped";
    EXPECT_EQ(peer->frames(MessagePayload::ChunkedMessageRetry).size(), 1u);
    EXPECT_EQ(logged("control frames wait to be written: dropping the oldest acknowledgements").size(), 1u);
    EXPECT_EQ(hears->delivered.size(), 3u + flood);
}

TEST_F(AdapterProtocolTest, AnAcknowledgedResendIsNeitherSentAgainNorReported) {
    start();
    adapter->sendData(pattern(10, 1), 3);
    advance(95);
    ASSERT_EQ(messageFrames(), 2u);
    fromPeer(MessageFrameWriter::messageAck(0, 3));
    advance(200, 5);
    EXPECT_EQ(messageFrames(), 2u);
    EXPECT_TRUE(hears->failedToSend.empty());
}

TEST_F(AdapterProtocolTest, LargeMessageIsNeverResentAndReportedOnceWhenTimedOutOrGivenUpByThePeer) {
    start();
    adapter->sendData(pattern(40000, 1), 3);  // the peer gives it up
    adapter->sendData(pattern(40000, 2), 3);  // the peer never answers
    settle();
    ASSERT_EQ(messageFrames(), 6u);

    advance(10);
    fromPeer(MessageFrameWriter::messageFailed(0, 3));
    ASSERT_EQ(hears->failedToSend.size(), 1u) << "at once";
    EXPECT_EQ(hears->failedToSend[0].id, 0);
    EXPECT_TRUE(hears->failedToSend[0].data == pattern(40000, 1));
    EXPECT_EQ(logged("Failed to send large message with id 0, timed out").size(), 1u);

    advance(79);
    EXPECT_EQ(hears->failedToSend.size(), 1u);
    advance(6);  // its time-out and the sweep after it
    ASSERT_EQ(hears->failedToSend.size(), 2u);
    EXPECT_EQ(hears->failedToSend[1].id, 1);
    EXPECT_EQ(logged("Failed to send large message with id 1, timed out").size(), 1u);

    advance(300, 5);
    EXPECT_EQ(messageFrames(), 6u) << "no frame of either is sent again";
    EXPECT_EQ(hears->failedToSend.size(), 2u);
}

TEST_F(AdapterProtocolTest, TimeoutRunsFromTheMomentTheChannelPassedTheMessageOn) {
    start();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // the gate holds it back
    adapter->sendData(pattern(10, 1), 3);
    advance(200, 5);
    local->holdTransmission(true);  // then the slow link keeps it in the channel's buffer
    local->holdBufferedAmount(0);
    settle();
    advance(200, 5);
    EXPECT_EQ(messageFrames(), 0u);
    EXPECT_TRUE(logged("timed out").empty()) << "a message waiting in the queue or the channel does not time out";

    local->holdTransmission(false);
    settle();
    advance(85, 5);
    EXPECT_EQ(messageFrames(), 1u);
    EXPECT_TRUE(logged("timed out").empty());
    advance(10);
    EXPECT_EQ(logged("Single chunk message with id 0 timed out. Resending message").size(), 1u);
}

TEST_F(AdapterProtocolTest, MissingChunkIsAskedForFourTimesThenTheMessageIsGivenUp) {
    start();
    const Bytes piece(100, 7);
    fromPeer(MessageFrameWriter::chunkedMessage(9, 4, 0, 3, piece));
    fromPeer(MessageFrameWriter::chunkedMessage(9, 4, 2, 3, piece));
    ASSERT_EQ(hears->progress.size(), 2u);
    EXPECT_EQ(hears->progress[1].received, 2);

    advance(14);
    EXPECT_TRUE(peer->frames(MessagePayload::ChunkedMessageRetry).empty());
    advance(6);
    auto retries = peer->frames(MessagePayload::ChunkedMessageRetry);
    ASSERT_EQ(retries.size(), 1u);
    EXPECT_EQ(retries[0].id, 9);
    EXPECT_EQ(retries[0].positions, std::vector<std::uint16_t>{1});

    advance(100);
    EXPECT_EQ(peer->frames(MessagePayload::ChunkedMessageRetry).size(), 4u);
    ASSERT_EQ(peer->frames(MessagePayload::MessageFailed).size(), 1u);
    EXPECT_EQ(peer->frames(MessagePayload::MessageFailed)[0].id, 9);
    EXPECT_EQ(hears->failedToReceive, std::vector<std::uint16_t>{9});
    EXPECT_TRUE(hears->delivered.empty());
}

TEST_F(AdapterProtocolTest, ChunkArrivingAfterARetryRequestCompletesTheMessage) {
    start();
    const Bytes message = pattern(2 * 15360 + 5, 1);
    const std::span<const std::uint8_t> bytes(message);
    auto chunk = [&](std::uint16_t position) {
        return MessageFrameWriter::chunkedMessage(9, 4, position, 3,
                                                  bytes.subspan(position * 15360u, position < 2 ? 15360u : 5u));
    };
    fromPeer(chunk(2));
    fromPeer(chunk(0));
    advance(20);
    ASSERT_EQ(peer->frames(MessagePayload::ChunkedMessageRetry).size(), 1u);
    fromPeer(chunk(1));
    ASSERT_EQ(hears->delivered.size(), 1u);
    EXPECT_TRUE(hears->delivered[0].data == message);
    EXPECT_EQ(peer->frames(MessagePayload::MessageAck).size(), 1u);

    // A late copy of a frame (the answer to a crossed retry request) is dropped: no new
    // assembler, no acknowledgement.
    fromPeer(chunk(1));
    advance(120);
    EXPECT_TRUE(hears->failedToReceive.empty());
    EXPECT_EQ(hears->delivered.size(), 1u);
    EXPECT_EQ(peer->frames(MessagePayload::ChunkedMessageRetry).size(), 1u);
    EXPECT_EQ(peer->frames(MessagePayload::MessageAck).size(), 1u);
}

TEST_F(AdapterProtocolTest, ANewMessageUnderAFinishedIdIsCollectedEvenWhenAFrameEqualsTheOldOne) {
    start();
    const Bytes old = pattern(3 * 15360, 1);
    Bytes next = old;
    next.back() ^= 0xff;  // the new message differs in its last chunk only
    auto chunk = [](const Bytes& message, std::uint16_t position) {
        return MessageFrameWriter::chunkedMessage(9, 4, position, 3,
                                                  std::span<const std::uint8_t>(message).subspan(position * 15360u, 15360));
    };
    for (std::uint16_t position = 0; position < 3; ++position) fromPeer(chunk(old, position));
    ASSERT_EQ(hears->delivered.size(), 1u);

    fromPeer(chunk(next, 0));  // equal to the old frame: taken for a late copy
    EXPECT_EQ(peer->frames(MessagePayload::MessageAck).size(), 1u) << "the new message is not acknowledged";
    fromPeer(chunk(next, 2));  // not a frame of the old message: a new one
    fromPeer(chunk(next, 1));
    advance(20);
    const auto retries = peer->frames(MessagePayload::ChunkedMessageRetry);
    ASSERT_EQ(retries.size(), 1u);
    EXPECT_EQ(retries[0].positions, std::vector<std::uint16_t>{0});
    fromPeer(chunk(next, 0));
    ASSERT_EQ(hears->delivered.size(), 2u);
    EXPECT_TRUE(hears->delivered[1].data == next);
    EXPECT_EQ(peer->frames(MessagePayload::MessageAck).size(), 2u);
}

TEST_F(AdapterProtocolTest, AFrameOfAnotherMessageUnderAnOpenIdNeverJoinsIt) {
    auto frames = [](const Bytes& message, std::uint16_t count) {
        std::vector<Bytes> cut;
        for (std::uint16_t position = 0; position < count; ++position) {
            cut.push_back(MessageFrameWriter::chunkedMessage(
                9, 4, position, count, std::span<const std::uint8_t>(message).subspan(position * 15360u, 15360)));
        }
        return cut;
    };
    const Bytes old = pattern(3 * 15360, 1);
    struct Case {
        const char* name;
        Bytes next;
        std::uint16_t count;
        bool oldGivenUp;
    };
    const Case cases[] = {
        {"another chunk count", pattern(4 * 15360, 2), 4, true},
        {"other bytes at a position received", pattern(3 * 15360, 3), 3, true},
        {"the old message's own frames", old, 3, false},
    };
    for (const auto& [name, next, count, oldGivenUp] : cases) {
        SCOPED_TRACE(name);
        peer = std::make_shared<RawPeer>();
        start();
        const auto oldFrames = frames(old, 3);
        fromPeer(oldFrames[0]);
        fromPeer(oldFrames[1]);  // the rest of it was cut off: its sender gave it up
        for (const auto& frame : frames(next, count)) fromPeer(frame);
        ASSERT_EQ(hears->delivered.size(), 1u);
        EXPECT_TRUE(hears->delivered[0].data == next) << "delivered whole and as sent";
        EXPECT_EQ(hears->failedToReceive, oldGivenUp ? std::vector<std::uint16_t>{9} : std::vector<std::uint16_t>{});
        EXPECT_EQ(peer->frames(MessagePayload::MessageAck).size(), 1u);
        EXPECT_TRUE(peer->frames(MessagePayload::MessageFailed).empty()) << "it would fail the new message";
    }
}

TEST_F(AdapterProtocolTest, AGivenUpLargeMessagesIdComesRoundOnlyOnceThePeersRecordsOfItHaveExpired) {
    start();
    adapter->sendData(pattern(2 * 15360, 1), 1);  // id 0
    settle();
    fromPeer(MessageFrameWriter::messageFailed(0, 1));
    ASSERT_EQ(hears->failedToSend.size(), 1u);

    // A closed channel stands the time still, and the next one starts it again whole.
    adapter->closeDataChannel();
    advance(1000, 10);
    std::tie(local, remote) = makePair();
    remote->setObserver(peer);
    adapter->set(local);
    local->open();
    settle();

    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // nothing is acknowledged
    for (int i = 1; i < 65536; ++i) adapter->sendData({static_cast<std::uint8_t>(i)}, 1);
    auto refused = adapter->sendData({1}, 1);
    settle();
    ASSERT_FALSE(refused.isPending()) << "id 0 is retired";
    EXPECT_EQ(webRtcFailure(refused), WebRTCError::Kind::failedToSendData);

    advance(RetiredMessageId::retirement + ChunkCache<RetiredMessageId>::sweepInterval, 10);
    adapter->sendData({42}, 1);
    local->holdBufferedAmount(0);
    settleUntil([&] { return peer->frames(MessagePayload::SingleMessageData).size() == 65536; });
    const auto last = peer->frames(MessagePayload::SingleMessageData).back();
    EXPECT_EQ(last.id, 0);
    EXPECT_EQ(last.data, Bytes{42});
}

TEST_F(AdapterProtocolTest, RepeatedSingleMessageIsAcknowledgedButDeliveredOnce) {
    start();
    const Bytes message = pattern(20, 1);
    fromPeer(MessageFrameWriter::singleMessage(5, 6, message));
    advance(10);
    fromPeer(MessageFrameWriter::singleMessage(5, 6, message));
    advance(150, 5);  // a resend late in the sender's window is still a repeat
    fromPeer(MessageFrameWriter::singleMessage(5, 6, message));
    EXPECT_EQ(hears->delivered.size(), 1u);
    auto acks = peer->frames(MessagePayload::MessageAck);
    ASSERT_EQ(acks.size(), 3u);
    EXPECT_EQ(acks[1].id, 5);
    EXPECT_EQ(acks[1].category, 6);

    fromPeer(MessageFrameWriter::singleMessage(5, 6, pattern(20, 2)));
    EXPECT_EQ(hears->delivered.size(), 2u) << "a new message that reuses the id is delivered";
}

TEST_F(AdapterProtocolTest, MalformedAndControlFramesAreHandledQuietly) {
    start();
    fromPeer(Bytes{1, 2, 3});
    fromPeer(Bytes(64, 0xff));
    EXPECT_EQ(logged("not a well-formed frame").size(), 2u);
    fromPeer(MessageFrameWriter::heartbeat());
    fromPeer(MessageFrameWriter::messageAck(77, 1));
    EXPECT_TRUE(peer->frames().empty()) << "nothing is sent in reply";
    fromPeer(MessageFrameWriter::chunkedMessageRetry(77, 1, std::vector<std::uint16_t>{0}));
    EXPECT_EQ(logged("Received retry request for a message that doesn't exist").size(), 1u);
    fromPeer(MessageFrameWriter::messageFailed(77, 1));
    EXPECT_EQ(logged("Peer failed to receive message 77").size(), 1u);
    fromPeer(MessageFrameWriter::singleMessage(3, 1, {}));
    ASSERT_EQ(hears->delivered.size(), 1u);
    EXPECT_TRUE(hears->delivered[0].data.empty());
    EXPECT_TRUE(hears->failedToSend.empty());
}

TEST_F(AdapterProtocolTest, AcknowledgementWithoutItsTableCompletesTheMessage) {
    start();
    adapter->sendData(pattern(10, 1), 3);
    settle();
    // The acknowledgement's kind without its (empty) table, as a peer may send it.
    flatbuffers::FlatBufferBuilder builder;
    const auto chunk = builder.StartTable();
    builder.AddElement<std::uint8_t>(MessageChunk::VT_PAYLOAD_TYPE, static_cast<std::uint8_t>(MessagePayload::MessageAck), 0);
    const flatbuffers::Offset<void> table(builder.EndTable(chunk));
    builder.Finish(CreateMessageFrame(builder, MessageTypes::MessageChunk, table));
    fromPeer(Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()));
    advance(200, 5);
    EXPECT_EQ(messageFrames(), 1u) << "acknowledged: never resent";
    EXPECT_TRUE(hears->failedToSend.empty());
}

TEST_F(AdapterProtocolTest, RepeatedRetryRequestsQueueEachAskedFrameOnce) {
    start();
    adapter->sendData(pattern(2 * 15360, 4), 2);
    settle();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);
    for (int copy = 0; copy < 500; ++copy) {
        ASSERT_TRUE(remote->send(MessageFrameWriter::chunkedMessageRetry(0, 2, std::vector<std::uint16_t>{0, 1}), true));
    }
    settle();
    local->holdBufferedAmount(0);
    settle();
    EXPECT_EQ(peer->frames(MessagePayload::ChunkedMessageData).size(), 4u) << "the message, then each asked frame once";

    fromPeer(MessageFrameWriter::chunkedMessageRetry(0, 2, std::vector<std::uint16_t>{1}));
    EXPECT_EQ(peer->frames(MessagePayload::ChunkedMessageData).size(), 5u) << "served again once written";
}

TEST_F(AdapterProtocolTest, RetryRequestIsServedWithTheAskedFrames) {
    start();
    const Bytes message = pattern(3 * 15360, 4);
    adapter->sendData(message, 2);
    settle();
    fromPeer(MessageFrameWriter::chunkedMessageRetry(0, 2, std::vector<std::uint16_t>{2, 0, 2, 9}));
    const auto chunks = peer->frames(MessagePayload::ChunkedMessageData);
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[3].position + chunks[4].position, 2);
    EXPECT_EQ(logged("Sent chunks specified in retry request").size(), 1u);
    fromPeer(MessageFrameWriter::messageAck(0, 2));
    advance(200, 5);
    EXPECT_TRUE(hears->failedToSend.empty());
}

TEST_F(AdapterProtocolTest, ReassemblyLimitsAdmitOnlyMessagesThatCanFinish) {
    // Room for not quite three chunks: one two-chunk message at a time.
    start(WebRtcChunkAdapter::Settings{.maxReassemblingMessages = 2, .maxReassemblingBytes = 3 * 15360 - 1});
    const Bytes full(15360, 1);
    fromPeer(MessageFrameWriter::chunkedMessage(1, 0, 0, 2, full));
    fromPeer(MessageFrameWriter::chunkedMessage(2, 0, 0, 2, full));  // both could not finish
    fromPeer(MessageFrameWriter::chunkedMessage(2, 0, 1, 2, full));  // a late frame of the refused one
    EXPECT_EQ(hears->failedToReceive, std::vector<std::uint16_t>{2});
    ASSERT_EQ(peer->frames(MessagePayload::MessageFailed).size(), 1u);
    EXPECT_EQ(peer->frames(MessagePayload::MessageFailed)[0].id, 2);

    fromPeer(MessageFrameWriter::chunkedMessage(1, 0, 1, 2, full));
    ASSERT_EQ(hears->delivered.size(), 1u);
    EXPECT_EQ(hears->delivered[0].id, 1);

    fromPeer(MessageFrameWriter::chunkedMessage(3, 0, 0, 2, full));  // the room is free again
    fromPeer(MessageFrameWriter::chunkedMessage(3, 0, 1, 2, full));
    EXPECT_EQ(hears->delivered.size(), 2u);
    EXPECT_EQ(hears->failedToReceive.size(), 1u);
}

TEST_F(AdapterProtocolTest, IdsSkipUnacknowledgedMessagesAndRunOut) {
    start();
    local->holdBufferedAmount(DataChannelWrapper::gateCloseAmount);  // nothing is written or acknowledged
    std::vector<Promise<void>> sends;
    for (int i = 0; i < 65536; ++i) sends.push_back(adapter->sendData({static_cast<std::uint8_t>(i)}, 1));
    auto refused = adapter->sendData({1}, 1);
    settle();
    EXPECT_EQ(webRtcFailure(refused), WebRTCError::Kind::failedToSendData);

    local->holdBufferedAmount(0);
    settle();
    settleUntil([&] { return peer->frames(MessagePayload::SingleMessageData).size() == 65536; });
    ASSERT_EQ(peer->frames(MessagePayload::SingleMessageData).size(), 65536u);
    for (std::uint16_t id = 1; id != 0; ++id) remote->send(MessageFrameWriter::messageAck(id, 1), true);
    settleUntil([&] { return local->framesReceived() == 65535; });
    adapter->sendData({42}, 1);
    settle();
    const auto last = peer->frames(MessagePayload::SingleMessageData).back();
    EXPECT_EQ(last.id, 1) << "id 0 still waits for its acknowledgement";
    EXPECT_EQ(last.data, Bytes{42});
}

TEST_F(AdapterProtocolTest, HeartbeatTimeoutIsReportedOnceAfterFiveSecondsOfSilence) {
    start();
    advance(4);
    EXPECT_EQ(hears->timeouts, 0);
    advance(2);
    EXPECT_EQ(hears->timeouts, 1);
    advance(20);
    EXPECT_EQ(hears->timeouts, 1);
}
