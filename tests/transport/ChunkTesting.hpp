#pragma once

// Helpers for the chunking tests: message bytes with a recognisable pattern and the fields of
// built frames, read back through the verifying frame parser.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "formats/MessageFrameView.hpp"

namespace quorvane::testing {

using Bytes = std::vector<std::uint8_t>;

/// `size` bytes whose values cycle through 0..250, so a chunk out of place shows.
inline Bytes patterned(std::size_t size, std::uint8_t seed = 0) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i + seed) % 251);
    return bytes;
}

/// The fields of one MessageChunk frame, copied out of the buffer.
struct ChunkFrame {
    MessagePayload payloadType = MessagePayload::NONE;
    std::uint16_t msgid = 0;
    std::uint16_t category = 0;
    std::uint16_t position = 0;  // chunked payloads only
    std::uint16_t length = 0;    // chunked payloads only
    Bytes data;                  // single or chunked payloads
    std::vector<std::uint16_t> retry;
};

/// Verifies `bytes` as a MessageChunk frame and copies its fields out; nothing (and a test
/// failure) when they are not one.
inline std::optional<ChunkFrame> readChunkFrame(const Bytes& bytes) {
    auto frame = parseMessageFrame(bytes);
    if (!frame || !frame->messageChunk()) {
        ADD_FAILURE() << "not a verified MessageChunk frame";
        return std::nullopt;
    }
    auto chunk = *frame->messageChunk();
    ChunkFrame result{chunk.payloadType(), chunk.msgid(), chunk.category()};
    if (auto single = chunk.singleMessageData()) result.data.assign(single->begin(), single->end());
    if (auto chunked = chunk.chunkedMessageData()) {
        result.position = chunked->position;
        result.length = chunked->length;
        result.data.assign(chunked->data.begin(), chunked->data.end());
    }
    if (auto retry = chunk.chunkedMessageRetry()) result.retry = *retry;
    return result;
}

/// The chunked payload of a frame; `bytes` must outlive the view.
inline ChunkedMessageDataView chunkedPayload(const Bytes& bytes) {
    auto frame = parseMessageFrame(bytes);
    EXPECT_TRUE(frame && frame->messageChunk() && frame->messageChunk()->chunkedMessageData());
    return *frame->messageChunk()->chunkedMessageData();
}

}  // namespace quorvane::testing
