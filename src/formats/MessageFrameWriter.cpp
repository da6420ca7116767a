#include "formats/MessageFrameWriter.hpp"

#include "chunks_generated.h"
#include "formats/WireFormat.hpp"

namespace quorvane {

namespace {

/// Wraps a payload already in `builder` into a MessageChunk frame and finishes it.
std::vector<std::uint8_t> finishChunk(wire::MessageBuilder& builder, std::uint16_t msgid,
                                      std::uint16_t category, MessagePayload payloadType,
                                      flatbuffers::Offset<void> payload) {
    auto chunk = CreateMessageChunk(builder, msgid, category, payloadType, payload);
    auto frame = CreateMessageFrame(builder, MessageTypes::MessageChunk, chunk.Union());
    return wire::finish(builder, frame);
}

}  // namespace

std::vector<std::uint8_t> MessageFrameWriter::heartbeat() {
    wire::MessageBuilder builder;
    auto heartbeat = CreateHeartbeat(builder);
    auto frame = CreateMessageFrame(builder, MessageTypes::Heartbeat, heartbeat.Union());
    return wire::finish(builder, frame);
}

std::vector<std::uint8_t> MessageFrameWriter::singleMessage(std::uint16_t msgid, std::uint16_t category,
                                                            std::span<const std::uint8_t> data) {
    wire::MessageBuilder builder(data.size());
    auto bytes = wire::createBytes(builder, data);
    auto single = CreateSingleMessageData(builder, bytes);
    return finishChunk(builder, msgid, category, MessagePayload::SingleMessageData, single.Union());
}

std::vector<std::uint8_t> MessageFrameWriter::chunkedMessage(std::uint16_t msgid, std::uint16_t category,
                                                             std::uint16_t position, std::uint16_t length,
                                                             std::span<const std::uint8_t> data) {
    wire::MessageBuilder builder(data.size());
    auto bytes = wire::createBytes(builder, data);
    auto chunked = CreateChunkedMessageData(builder, position, length, bytes);
    return finishChunk(builder, msgid, category, MessagePayload::ChunkedMessageData, chunked.Union());
}

std::vector<std::uint8_t> MessageFrameWriter::chunkedMessageRetry(std::uint16_t msgid, std::uint16_t category,
                                                                  std::span<const std::uint16_t> chunks) {
    wire::MessageBuilder builder;
    auto positions = builder.CreateVector(chunks.data(), chunks.size());
    auto retry = CreateChunkedMessageRetry(builder, positions);
    return finishChunk(builder, msgid, category, MessagePayload::ChunkedMessageRetry, retry.Union());
}

std::vector<std::uint8_t> MessageFrameWriter::messageAck(std::uint16_t msgid, std::uint16_t category) {
    wire::MessageBuilder builder;
    auto ack = CreateMessageAck(builder);
    return finishChunk(builder, msgid, category, MessagePayload::MessageAck, ack.Union());
}

std::vector<std::uint8_t> MessageFrameWriter::messageFailed(std::uint16_t msgid, std::uint16_t category) {
    wire::MessageBuilder builder;
    auto failed = CreateMessageFailed(builder);
    return finishChunk(builder, msgid, category, MessagePayload::MessageFailed, failed.Union());
}

}  // namespace quorvane
