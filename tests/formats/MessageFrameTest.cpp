#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "formats/MessageFrameView.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "formats/WireTesting.hpp"
#include "support/ReadAll.hpp"

using namespace quorvane;
using quorvane::testing::hasField;
using quorvane::testing::readAll;

namespace {

using Bytes = std::vector<std::uint8_t>;

const MessageFrame& rootOf(const Bytes& bytes) { return *flatbuffers::GetRoot<MessageFrame>(bytes.data()); }

const MessageChunk& chunkOf(const Bytes& bytes) { return *rootOf(bytes).message_as_MessageChunk(); }

MessageChunkView parsedChunk(const Bytes& bytes) {
    auto frame = parseMessageFrame(bytes);
    EXPECT_TRUE(frame);
    EXPECT_EQ(frame->messageType(), MessageTypes::MessageChunk);
    return *frame->messageChunk();
}

/// A frame written field by field, for bytes the writers never produce.
Bytes frameWithTypeByte(std::uint8_t frameType, std::uint8_t payloadType) {
    flatbuffers::FlatBufferBuilder builder;
    auto data = builder.CreateVector(std::vector<std::uint8_t>{7});
    auto single = CreateSingleMessageData(builder, data);
    auto chunk = CreateMessageChunk(builder, 1, 2, static_cast<MessagePayload>(payloadType), single.Union());
    auto frame = CreateMessageFrame(builder, static_cast<MessageTypes>(frameType), chunk.Union());
    builder.Finish(frame);
    return {builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()};
}

const Bytes payload{1, 2, 3, 4, 5};

}  // namespace

TEST(MessageFrame, HeartbeatIsAFrameOfTypeOnePointingAtAnEmptyTable) {
    auto bytes = MessageFrameWriter::heartbeat();
    auto frame = parseMessageFrame(bytes);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->messageType(), MessageTypes::Heartbeat);
    EXPECT_FALSE(frame->messageChunk());
    EXPECT_TRUE(rootOf(bytes).message_as_Heartbeat() != nullptr);
    // Buffer framing: the root offset comes first, no identifier, no size prefix.
    EXPECT_EQ(flatbuffers::ReadScalar<flatbuffers::uoffset_t>(bytes.data()) % 4, 0u);
    EXPECT_LT(flatbuffers::ReadScalar<flatbuffers::uoffset_t>(bytes.data()), bytes.size());
}

TEST(MessageFrame, DefaultsAreLeftOutYetReadBack) {
    auto zero = MessageFrameWriter::chunkedMessage(0, 0, 0, 3, payload);
    EXPECT_FALSE(hasField(&chunkOf(zero), MessageChunk::VT_MSGID));
    EXPECT_FALSE(hasField(&chunkOf(zero), MessageChunk::VT_CATEGORY));
    EXPECT_FALSE(hasField(chunkOf(zero).payload_as_ChunkedMessageData(), ChunkedMessageData::VT_POSITION));
    auto chunk = parsedChunk(zero);
    EXPECT_EQ(chunk.msgid(), 0);
    EXPECT_EQ(chunk.category(), 0);
    EXPECT_EQ(chunk.chunkedMessageData()->position, 0);
    EXPECT_EQ(chunk.chunkedMessageData()->length, 3);

    auto set = MessageFrameWriter::chunkedMessage(65535, 9, 2, 3, payload);
    EXPECT_TRUE(hasField(&chunkOf(set), MessageChunk::VT_MSGID));
    chunk = parsedChunk(set);
    EXPECT_EQ(chunk.msgid(), 65535);
    EXPECT_EQ(chunk.category(), 9);
    EXPECT_EQ(chunk.chunkedMessageData()->position, 2);
    EXPECT_EQ(Bytes(chunk.chunkedMessageData()->data.begin(), chunk.chunkedMessageData()->data.end()), payload);
}

TEST(MessageFrame, EachPayloadReadsBackOnlyAsItsOwnKind) {
    auto singleBytes = MessageFrameWriter::singleMessage(4, 1, payload);
    auto single = parsedChunk(singleBytes);
    EXPECT_EQ(single.payloadType(), MessagePayload::SingleMessageData);
    EXPECT_EQ(Bytes(single.singleMessageData()->begin(), single.singleMessageData()->end()), payload);
    EXPECT_FALSE(single.chunkedMessageData());
    EXPECT_FALSE(single.chunkedMessageRetry());

    std::vector<std::uint16_t> missing{0, 7, 65535};
    auto retryBytes = MessageFrameWriter::chunkedMessageRetry(4, 1, missing);
    auto retry = parsedChunk(retryBytes);
    EXPECT_EQ(retry.payloadType(), MessagePayload::ChunkedMessageRetry);
    EXPECT_EQ(*retry.chunkedMessageRetry(), missing);
    EXPECT_FALSE(retry.singleMessageData());

    auto ackBytes = MessageFrameWriter::messageAck(4, 1);
    EXPECT_EQ(parsedChunk(ackBytes).payloadType(), MessagePayload::MessageAck);
    EXPECT_EQ(parsedChunk(ackBytes).msgid(), 4);
    auto failedBytes = MessageFrameWriter::messageFailed(4, 1);
    EXPECT_EQ(parsedChunk(failedBytes).payloadType(), MessagePayload::MessageFailed);
}

TEST(MessageFrame, EmptyVectorsAreWrittenAndReadAsEmpty) {
    auto bytes = MessageFrameWriter::singleMessage(1, 1, {});
    EXPECT_TRUE(hasField(chunkOf(bytes).payload_as_SingleMessageData(), SingleMessageData::VT_DATA));
    auto data = parsedChunk(bytes).singleMessageData();
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->empty());
    auto emptyRetry = MessageFrameWriter::chunkedMessageRetry(1, 1, {});
    auto retry = parsedChunk(emptyRetry).chunkedMessageRetry();
    ASSERT_TRUE(retry);
    EXPECT_TRUE(retry->empty());
}

TEST(MessageFrame, LargestChunkRoundTrips) {
    Bytes big(15360);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 31);
    auto bytes = MessageFrameWriter::chunkedMessage(3, 0, 9, 10, big);
    auto data = parsedChunk(bytes).chunkedMessageData();
    EXPECT_EQ(Bytes(data->data.begin(), data->data.end()), big);
}

TEST(MessageFrame, UnknownTypeBytesReadAsNone) {
    auto unknownFrame = frameWithTypeByte(3, 1);
    auto frame = parseMessageFrame(unknownFrame);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->messageType(), MessageTypes::NONE);
    EXPECT_FALSE(frame->messageChunk());

    auto unknownPayload = frameWithTypeByte(2, 6);
    auto chunk = parsedChunk(unknownPayload);
    EXPECT_EQ(chunk.payloadType(), MessagePayload::NONE);
    EXPECT_FALSE(chunk.singleMessageData());

    // No type byte at all: the member is ignored, whatever it holds.
    auto untypedBytes = frameWithTypeByte(0, 1);
    auto untyped = parseMessageFrame(untypedBytes);
    ASSERT_TRUE(untyped);
    EXPECT_EQ(untyped->messageType(), MessageTypes::NONE);
    EXPECT_FALSE(untyped->messageChunk());
}

TEST(MessageFrame, FieldsMarkedRequiredMayBeMissingAndReadAsAbsent) {
    using Builder = flatbuffers::FlatBufferBuilder;
    // Tables written without the generated builders, whose own check would stop a missing field.
    auto table = [](Builder& builder, auto addFields) {
        auto start = builder.StartTable();
        addFields();
        return builder.EndTable(start);
    };
    auto chunkFrame = [&](MessagePayload type, const std::function<flatbuffers::uoffset_t(Builder&)>& payload) {
        Builder builder;
        const auto member = payload(builder);
        const auto chunk = table(builder, [&] {
            builder.AddElement<std::uint16_t>(MessageChunk::VT_MSGID, 7, 0);
            builder.AddElement<std::uint8_t>(MessageChunk::VT_PAYLOAD_TYPE, static_cast<std::uint8_t>(type), 0);
            if (member != 0) builder.AddOffset(MessageChunk::VT_PAYLOAD, flatbuffers::Offset<void>(member));
        });
        builder.Finish(CreateMessageFrame(builder, MessageTypes::MessageChunk, flatbuffers::Offset<void>(chunk)));
        return Bytes(builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize());
    };
    auto none = [](Builder&) { return flatbuffers::uoffset_t{0}; };
    auto empty = [&](Builder& builder) { return table(builder, [] {}); };

    {
        SCOPED_TRACE("an acknowledgement without its table");
        auto bytes = chunkFrame(MessagePayload::MessageAck, none);
        auto chunk = parsedChunk(bytes);
        EXPECT_EQ(chunk.payloadType(), MessagePayload::MessageAck);
        EXPECT_EQ(chunk.msgid(), 7);
    }
    {
        SCOPED_TRACE("a single message without its table");
        auto bytes = chunkFrame(MessagePayload::SingleMessageData, none);
        EXPECT_FALSE(parsedChunk(bytes).singleMessageData());
    }
    {
        SCOPED_TRACE("vectors missing from their tables");
        auto single = chunkFrame(MessagePayload::SingleMessageData, empty);
        auto data = parsedChunk(single).singleMessageData();
        ASSERT_TRUE(data);
        EXPECT_TRUE(data->empty());

        auto chunkedBytes = chunkFrame(MessagePayload::ChunkedMessageData, [&](Builder& builder) {
            return table(builder, [&] { builder.AddElement<std::uint16_t>(ChunkedMessageData::VT_LENGTH, 5, 0); });
        });
        auto chunked = parsedChunk(chunkedBytes).chunkedMessageData();
        ASSERT_TRUE(chunked);
        EXPECT_EQ(chunked->length, 5);
        EXPECT_TRUE(chunked->data.empty());

        auto retry = chunkFrame(MessagePayload::ChunkedMessageRetry, empty);
        EXPECT_EQ(parsedChunk(retry).chunkedMessageRetry(), std::vector<std::uint16_t>{});
    }
    {
        SCOPED_TRACE("a frame without its member");
        Builder builder;
        builder.Finish(flatbuffers::Offset<MessageFrame>(
            table(builder, [&] { builder.AddElement<std::uint8_t>(MessageFrame::VT_MESSAGE_TYPE, 2, 0); })));
        auto frame = parseMessageFrame({builder.GetBufferPointer(), builder.GetSize()});
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->messageType(), MessageTypes::MessageChunk);
        EXPECT_FALSE(frame->messageChunk());
    }
}

TEST(MessageFrame, DamagedBuffersAreRejectedOrReadSafely) {
    auto valid = MessageFrameWriter::chunkedMessage(300, 2, 1, 4, payload);
    auto expected = readAll(*parseMessageFrame(valid));
    // Only trailing padding may be cut off without losing the frame.
    quorvane::testing::forEachTruncation(valid, [&](const Bytes& bytes) {
        if (auto frame = parseMessageFrame(bytes)) EXPECT_EQ(readAll(*frame), expected) << bytes.size();
    });
    for (const auto& source : {valid, MessageFrameWriter::chunkedMessageRetry(1, 2, std::vector<std::uint16_t>{1, 2})}) {
        quorvane::testing::forEachBitFlip(source, [](const Bytes& bytes) {
            if (auto frame = parseMessageFrame(bytes)) readAll(*frame);
        });
    }
    quorvane::testing::forEachRandomBuffer(20000, 96, [](const Bytes& bytes) {
        if (auto frame = parseMessageFrame(bytes)) readAll(*frame);
    });
}

TEST(MessageFrame, MisalignedInputIsAProgrammingError) {
    auto bytes = MessageFrameWriter::heartbeat();
    Bytes shifted(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), shifted.begin() + 1);
    EXPECT_THROW(parseMessageFrame({shifted.data() + 1, bytes.size()}), std::invalid_argument);
}
