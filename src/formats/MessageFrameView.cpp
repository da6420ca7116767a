#include "formats/MessageFrameView.hpp"

#include "formats/WireFormat.hpp"

namespace quorvane {

MessagePayload MessageChunkView::payloadType() const { return wire::knownOrFirst(chunk_->payload_type()); }

std::optional<std::span<const std::uint8_t>> MessageChunkView::singleMessageData() const {
    const auto* single = chunk_->payload_as_SingleMessageData();
    if (single == nullptr) return std::nullopt;
    return wire::bytesOf(single->data());
}

std::optional<ChunkedMessageDataView> MessageChunkView::chunkedMessageData() const {
    const auto* chunked = chunk_->payload_as_ChunkedMessageData();
    if (chunked == nullptr) return std::nullopt;
    return ChunkedMessageDataView{chunked->position(), chunked->length(), wire::bytesOf(chunked->data())};
}

std::optional<std::vector<std::uint16_t>> MessageChunkView::chunkedMessageRetry() const {
    const auto* retry = chunk_->payload_as_ChunkedMessageRetry();
    if (retry == nullptr) return std::nullopt;
    std::vector<std::uint16_t> chunks;
    if (const auto* positions = retry->chunks()) chunks.assign(positions->begin(), positions->end());
    return chunks;
}

MessageTypes MessageFrameView::messageType() const { return wire::knownOrFirst(frame_->message_type()); }

std::optional<MessageChunkView> MessageFrameView::messageChunk() const {
    const auto* chunk = frame_->message_as_MessageChunk();
    if (chunk == nullptr) return std::nullopt;
    return MessageChunkView(*chunk);
}

std::optional<MessageFrameView> parseMessageFrame(std::span<const std::uint8_t> bytes) {
    const auto* frame = wire::verifiedRoot<MessageFrame>(bytes);
    if (frame == nullptr) return std::nullopt;
    return MessageFrameView(*frame);
}

}  // namespace quorvane
