#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "async/Clock.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"
#include "support/RecordingLogger.hpp"
#include "support/ResidentMemory.hpp"
#include "transport/ChunkAssembler.hpp"
#include "transport/ChunkTesting.hpp"
#include "transport/Chunker.hpp"
#include "transport/SingleChunk.hpp"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

/// A logger whose console lines the test can read.
struct Logs {
    std::shared_ptr<RecordingLogger> console = std::make_shared<RecordingLogger>();
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(console, LogLevel::TRACE, false);

    std::size_t count(const std::string& prefix) const {
        auto calls = console->calls();
        return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const auto& call) {
            return call.level == "ERROR" && call.message.rfind(prefix, 0) == 0;
        }));
    }
};

/// A chunk frame built by hand, as a peer may send it.
struct PeerChunk {
    Bytes frame;
    ChunkedMessageDataView view() const { return chunkedPayload(frame); }
};

PeerChunk peerChunk(std::uint16_t position, std::uint16_t length, const Bytes& data) {
    return {MessageFrameWriter::chunkedMessage(7, 2, position, length, data)};
}

std::string timeoutOperation(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const WebRTCError& e) {
        return e.kind() == WebRTCError::Kind::timeout ? e.operation() : "other";
    }
}

}  // namespace

TEST(ChunkAssembler, ReassemblesInAnyOrderWithDuplicates) {
    std::mt19937 random(7);
    for (std::size_t size : {std::size_t{15361}, std::size_t{30720}, std::size_t{30721}, std::size_t{100000}}) {
        const auto message = patterned(size, static_cast<std::uint8_t>(size));
        const Chunker chunker(message, 300, 12);
        std::map<std::uint16_t, Bytes> frames;
        for (std::uint16_t position = 0; position < chunker.chunkCount(); ++position) {
            frames[position] = chunker.frame(position);
        }
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(::testing::Message() << size << " round " << round);
            std::vector<std::uint16_t> order;
            for (const auto& [position, frame] : frames) order.insert(order.end(), 1 + round % 2, position);
            std::shuffle(order.begin(), order.end(), random);

            ChunkAssembler assembler(300, 12, chunkedPayload(frames.at(order[0])), nullptr);
            EXPECT_EQ(assembler.totalChunks(), frames.size());
            for (std::size_t i = 1; i < order.size(); ++i) {
                auto view = chunkedPayload(frames.at(order[i]));
                assembler.addChunk(view.data, view.position);
                EXPECT_LE(assembler.numChunksReceived(), frames.size());
            }
            ASSERT_TRUE(assembler.completion().isFulfilled());
            EXPECT_EQ(assembler.takeMessage(), message);
            EXPECT_EQ(assembler.numChunksReceived(), frames.size());
        }
    }
}

TEST(ChunkAssembler, CompletesOnlyWhenTheLastMissingPositionArrives) {
    ScopedVirtualClock clock;
    auto c2 = peerChunk(2, 3, {5, 6});
    ChunkAssembler assembler(7, 2, c2.view(), nullptr);
    EXPECT_EQ(assembler.numChunksReceived(), 1);
    const double opened = assembler.lastUpdated();

    clock->advance(3);
    assembler.addChunk(Bytes{9}, 2);  // a filled position: changes nothing, counts nothing, keeps the time
    EXPECT_EQ(assembler.numChunksReceived(), 1);
    EXPECT_EQ(assembler.lastUpdated(), opened);

    assembler.addChunk(Bytes{1}, 0);
    EXPECT_EQ(assembler.numChunksReceived(), 2);
    EXPECT_EQ(assembler.lastUpdated(), opened + 3);
    EXPECT_TRUE(assembler.completion().isPending());

    assembler.addChunk(Bytes{2, 3}, 1);
    ASSERT_TRUE(assembler.completion().isFulfilled());
    assembler.addChunk(Bytes{4}, 0);  // late copies change nothing
    EXPECT_EQ(assembler.takeMessage(), (Bytes{1, 2, 3, 5, 6}));

    auto alone = peerChunk(0, 1, {4, 2});
    ChunkAssembler single(7, 2, alone.view(), nullptr);
    EXPECT_TRUE(single.completion().isFulfilled());
    EXPECT_EQ(single.takeMessage(), (Bytes{4, 2}));
}

TEST(ChunkAssembler, AChunkBelongsOnlyWithTheSameCountAndAtAMissingPositionOrWithTheSameBytes) {
    auto first = peerChunk(1, 3, {5, 6});
    ChunkAssembler assembler(7, 2, first.view(), nullptr);
    struct Case {
        PeerChunk chunk;
        bool belongs;
    };
    const Case cases[] = {
        {peerChunk(0, 3, {1}), true},       // missing
        {peerChunk(1, 3, {5, 6}), true},    // a repeat
        {peerChunk(1, 3, {5, 7}), false},   // other bytes where some are
        {peerChunk(0, 4, {1}), false},      // another count
        {peerChunk(0, 2, {1}), false},
        {peerChunk(2, 3, {5, 6}), true},    // the same bytes elsewhere
    };
    for (const auto& [chunk, belongs] : cases) {
        const auto view = chunk.view();
        EXPECT_EQ(assembler.belongs(view), belongs) << "position " << view.position << " of " << view.length;
    }
}

TEST(ChunkAssembler, DropsChunksOutsideTheAnnouncedCountOrOverTheFrameSize) {
    Logs logs;
    auto first = peerChunk(1, 3, {1});
    ChunkAssembler assembler(7, 2, first.view(), logs.logger);

    assembler.addChunk(Bytes{66}, 3);
    assembler.addChunk(Bytes{66}, 65535);
    assembler.addChunk(Bytes(maxChunkBytes + 1, 66), 0);
    EXPECT_EQ(logs.count("Dropped chunk"), 3u);
    EXPECT_EQ(assembler.numChunksReceived(), 1);

    assembler.addChunk(Bytes(maxChunkBytes, 0), 0);
    assembler.addChunk(Bytes{2}, 2);
    ASSERT_TRUE(assembler.completion().isFulfilled());
    auto message = assembler.takeMessage();
    EXPECT_EQ(message.size(), maxChunkBytes + 2);
    EXPECT_EQ(std::count(message.begin(), message.end(), 66), 0);

    // A first chunk that announces no chunks at all is dropped too, and the message never completes.
    auto empty = peerChunk(0, 0, {1, 2});
    ChunkAssembler nothing(8, 2, empty.view(), logs.logger);
    EXPECT_EQ(logs.count("Dropped chunk 0 of message 8"), 1u);
    EXPECT_EQ(nothing.totalChunks(), 0);
    EXPECT_TRUE(nothing.completion().isPending());
}

TEST(ChunkAssembler, RetryRequestListsExactlyTheMissingPositionsAndRenewsTheCompletion) {
    ScopedVirtualClock clock;
    auto first = peerChunk(3, 9, {3});
    ChunkAssembler assembler(7, 2, first.view(), nullptr);
    for (std::uint16_t position : {0, 5, 8, 5}) assembler.addChunk(Bytes{static_cast<std::uint8_t>(position)}, position);

    auto expired = assembler.completion();
    assembler.timedOut();
    ASSERT_TRUE(expired.isRejected());
    EXPECT_EQ(timeoutOperation(expired.error()), "Receiving chunked message");

    clock->advance(20);
    auto retry = readChunkFrame(assembler.buildRetry());
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->payloadType, MessagePayload::ChunkedMessageRetry);
    EXPECT_EQ(retry->msgid, 7);
    EXPECT_EQ(retry->category, 2);
    EXPECT_EQ(retry->retry, (std::vector<std::uint16_t>{1, 2, 4, 6, 7}));
    EXPECT_EQ(assembler.lastUpdated(), clock->monotonic());
    EXPECT_TRUE(assembler.completion().isPending());

    for (std::uint16_t position : retry->retry) assembler.addChunk(Bytes{static_cast<std::uint8_t>(position)}, position);
    EXPECT_EQ(assembler.takeMessage(), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(readChunkFrame(assembler.buildRetry())->retry.empty());
}

TEST(ChunkAssembler, AHugeAnnouncedCountTakesMemoryOnlyAsFarAsItsChunksReach) {
    const auto before = ResidentMemory::read().now;
    auto first = peerChunk(1, 65535, {1, 2, 3});
    ChunkAssembler assembler(7, 2, first.view(), nullptr);
    EXPECT_LT(ResidentMemory::read().now, before + (64u << 20)) << "room for 1 GB is reserved, not taken";
    EXPECT_EQ(assembler.totalChunks(), 65535);
    EXPECT_EQ(assembler.numChunksReceived(), 1);
    auto retry = readChunkFrame(assembler.buildRetry());
    ASSERT_EQ(retry->retry.size(), 65534u);
    EXPECT_EQ(retry->retry.front(), 0);
    EXPECT_EQ(retry->retry.back(), 65534);
}

TEST(ChunkAssembler, JoinsChunksShorterThanAFrameInPositionOrder) {
    // Another sender's cut: every chunk shorter than 15360 bytes, and one replaced by a shorter copy.
    const Bytes message = patterned(3 * 1000 + 10);
    auto piece = [&](std::uint16_t position, std::size_t size) {
        return peerChunk(position, 4, Bytes(message.begin() + position * 1000, message.begin() + position * 1000 + size));
    };
    auto last = piece(3, 10);
    ChunkAssembler assembler(7, 2, last.view(), nullptr);
    for (std::uint16_t position : {2, 0}) assembler.addChunk(piece(position, 1000).view().data, position);
    assembler.addChunk(piece(2, 500).view().data, 2);  // a repeat replaces the chunk: the later bytes count
    assembler.addChunk(piece(2, 1000).view().data, 2);
    auto whole = piece(1, 1000);
    assembler.addChunk(whole.view().data, 1);
    ASSERT_TRUE(assembler.completion().isFulfilled());
    EXPECT_EQ(assembler.takeMessage(), message);
}

TEST(ChunkAssembler, AllowsFourRetryRequestsAndBuildsItsControlFrames) {
    auto first = peerChunk(0, 2, {1});
    ChunkAssembler assembler(7, 2, first.view(), nullptr);
    EXPECT_EQ(assembler.timeout(), 15.0);
    std::vector<bool> decisions;
    for (int i = 0; i < 6; ++i) decisions.push_back(assembler.shouldRetry());
    EXPECT_EQ(decisions, (std::vector<bool>{true, true, true, true, false, false}));

    auto ack = readChunkFrame(assembler.buildAck());
    auto failed = readChunkFrame(assembler.buildError());
    ASSERT_TRUE(ack && failed);
    EXPECT_EQ(ack->payloadType, MessagePayload::MessageAck);
    EXPECT_EQ(failed->payloadType, MessagePayload::MessageFailed);
    for (const auto& frame : {*ack, *failed}) {
        EXPECT_EQ(frame.msgid, 7);
        EXPECT_EQ(frame.category, 2);
    }
}

TEST(SingleChunk, MatchesTheSameBytesOnlyAndKeepsItsRecordForTheSendersResendWindow) {
    const Bytes message = patterned(100);
    SingleChunk record(42, message);
    EXPECT_EQ(record.id(), 42);
    EXPECT_TRUE(record.matches(message));
    auto other = message;
    other[99] ^= 1;
    EXPECT_FALSE(record.matches(other));
    EXPECT_FALSE(record.matches(Bytes{}));
    EXPECT_EQ(record.digest(), chunkDigest(message));

    // The sender resends after 90 s and then every 30 s, three times.
    EXPECT_GE(record.timeout(), Chunker::initialTimeout + 3 * Chunker::retryTimeout);
    EXPECT_TRUE(record.completion().isFulfilled());
}
