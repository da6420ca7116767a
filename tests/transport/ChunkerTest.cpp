#include <gtest/gtest.h>

#include "quorvane/Errors.hpp"
#include "transport/ChunkTesting.hpp"
#include "transport/Chunker.hpp"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

WebRTCError errorOf(const Promise<void>& promise) {
    try {
        std::rethrow_exception(promise.error());
    } catch (const WebRTCError& error) {
        return error;
    }
}

}  // namespace

TEST(Chunker, CutsAtFrameBoundariesIntoVerifiedFramesThatJoinToTheMessage) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> pieces;
        bool single;
    };
    for (const auto& c : {Case{0, {0}, true}, Case{1, {1}, true}, Case{15359, {15359}, true},
                          Case{15360, {15360}, true}, Case{15361, {15360, 1}, false},
                          Case{30720, {15360, 15360}, false}, Case{30721, {15360, 15360, 1}, false}}) {
        SCOPED_TRACE(c.size);
        const auto message = patterned(c.size);
        Chunker chunker(message, 517, 9);
        EXPECT_EQ(chunker.isSingleChunk(), c.single);
        ASSERT_EQ(chunker.chunkCount(), c.pieces.size());

        Bytes joined;
        for (std::uint16_t position = 0; position < chunker.chunkCount(); ++position) {
            auto frame = readChunkFrame(chunker.frame(position));
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame->msgid, 517);
            EXPECT_EQ(frame->category, 9);
            EXPECT_EQ(frame->data.size(), c.pieces[position]);
            if (c.single) {
                EXPECT_EQ(frame->payloadType, MessagePayload::SingleMessageData);
            } else {
                EXPECT_EQ(frame->payloadType, MessagePayload::ChunkedMessageData);
                EXPECT_EQ(frame->position, position);
                EXPECT_EQ(frame->length, c.pieces.size());
            }
            joined.insert(joined.end(), frame->data.begin(), frame->data.end());
        }
        EXPECT_EQ(joined, message);
        EXPECT_EQ(chunker.data(), message);
    }
}

TEST(Chunker, RefusesAMessageBeyondSixteenBitChunkPositions) {
    Chunker chunker(Bytes(Chunker::maxMessageBytes + 1), 1, 1);
    EXPECT_EQ(chunker.chunkCount(), 0);
    EXPECT_FALSE(chunker.isSingleChunk());
    EXPECT_TRUE(chunker.completion().isPending());
}

TEST(Chunker, EveryMessageGetsThreeResends) {
    for (std::size_t size : {std::size_t{0}, std::size_t{15359}, std::size_t{15360}, std::size_t{15361}}) {
        SCOPED_TRACE(size);
        Chunker chunker(patterned(size), 3, 4);
        EXPECT_EQ(chunker.timeout(), 90.0);
        EXPECT_TRUE(chunker.shouldRetry());
        EXPECT_EQ(chunker.timeout(), 30.0);
        EXPECT_TRUE(chunker.shouldRetry());
        EXPECT_TRUE(chunker.shouldRetry());
        EXPECT_FALSE(chunker.shouldRetry());
        EXPECT_FALSE(chunker.shouldRetry());
    }
}

TEST(Chunker, AGrantedResendGivesAFreshCompletionAndLeavesTheOldOneRejected) {
    Chunker chunker(patterned(10), 3, 4);
    auto first = chunker.completion();
    chunker.timedOut();
    ASSERT_TRUE(first.isRejected());
    EXPECT_EQ(errorOf(first).kind(), WebRTCError::Kind::timeout);
    EXPECT_EQ(errorOf(first).operation(), "Sending chunked message");

    ASSERT_TRUE(chunker.shouldRetry());
    auto second = chunker.completion();
    EXPECT_TRUE(second.isPending());
    chunker.completed();
    EXPECT_TRUE(second.isFulfilled());
    EXPECT_TRUE(first.isRejected());
    chunker.timedOut();  // settled promises do not change
    EXPECT_TRUE(second.isFulfilled());

    // A refused resend keeps the rejected promise.
    for (int granted = 0; granted < 2; ++granted) ASSERT_TRUE(chunker.shouldRetry());
    chunker.timedOut();
    auto last = chunker.completion();
    EXPECT_FALSE(chunker.shouldRetry());
    EXPECT_TRUE(last.isRejected());
    EXPECT_TRUE(chunker.completion().isRejected());
}
