#pragma once

// Reading of data-channel frames. Every buffer received from the data channel goes through
// parseMessageFrame before anything in it is read.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "chunks_generated.h"

namespace quorvane {

/// One chunk of a message cut into several frames.
struct ChunkedMessageDataView {
    std::uint16_t position;            ///< 0-based index of this chunk
    std::uint16_t length;              ///< number of chunks of the whole message
    std::span<const std::uint8_t> data;  ///< the chunk's bytes, read in place
};

/// A MessageChunk frame: the transport id and category of the message it speaks about and one
/// payload. Each payload reader gives nothing unless payloadType() names that payload.
class MessageChunkView {
public:
    explicit MessageChunkView(const MessageChunk& chunk) : chunk_(&chunk) {}

    std::uint16_t msgid() const { return chunk_->msgid(); }
    std::uint16_t category() const { return chunk_->category(); }
    /// NONE when absent or when the byte names no payload.
    MessagePayload payloadType() const;

    /// The whole message of a single-frame message.
    std::optional<std::span<const std::uint8_t>> singleMessageData() const;
    std::optional<ChunkedMessageDataView> chunkedMessageData() const;
    /// The positions the receiver asks to be sent again.
    std::optional<std::vector<std::uint16_t>> chunkedMessageRetry() const;

private:
    const MessageChunk* chunk_;
};

/// A verified MessageFrame. It reads the received bytes in place: they must outlive the view.
class MessageFrameView {
public:
    explicit MessageFrameView(const MessageFrame& frame) : frame_(&frame) {}

    /// NONE when absent or when the byte names no frame kind.
    MessageTypes messageType() const;
    /// The chunk a MessageChunk frame carries; nothing for any other frame kind.
    std::optional<MessageChunkView> messageChunk() const;

private:
    const MessageFrame* frame_;
};

/// Verifies `bytes` as one finished MessageFrame and returns a view of it, or nothing when they
/// are not one (truncated, corrupted, offsets or lengths outside the bytes). A field the schema
/// marks required may be missing: it reads as absent (a payload table as nothing, a vector as
/// empty). Nothing outside `bytes` is ever read. `bytes` must start on a 4-byte boundary
/// (std::invalid_argument otherwise).
std::optional<MessageFrameView> parseMessageFrame(std::span<const std::uint8_t> bytes);
/// The view would outlive a temporary buffer: keep the bytes in a variable.
std::optional<MessageFrameView> parseMessageFrame(std::vector<std::uint8_t>&& bytes) = delete;

}  // namespace quorvane
