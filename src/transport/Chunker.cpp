#include "transport/Chunker.hpp"

#include <algorithm>
#include <span>

#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"

namespace quorvane {

Chunker::Chunker(std::vector<std::uint8_t> data, std::uint16_t id, std::uint16_t category)
    : ChunkHelper(initialTimeout),
      id_(id),
      category_(category),
      data_(std::move(data)),
      chunks_(chunkMessage(data_, id_, category_)),
      pending_(Promise<void>::pending()) {}

std::optional<Chunker::Frames> Chunker::chunkMessage(const std::vector<std::uint8_t>& data, std::uint16_t id,
                                                     std::uint16_t category) {
    const std::size_t size = data.size();
    if (size > maxMessageBytes) return std::nullopt;
    const std::span<const std::uint8_t> bytes(data);
    Frames frames;
    if (size <= maxChunkBytes) {
        frames.emplace(0, MessageFrameWriter::singleMessage(id, category, bytes));
        return frames;
    }
    const auto count = static_cast<std::uint16_t>((size + maxChunkBytes - 1) / maxChunkBytes);
    for (std::uint16_t position = 0; position < count; ++position) {
        const std::size_t offset = std::size_t{position} * maxChunkBytes;
        const auto piece = bytes.subspan(offset, std::min(maxChunkBytes, size - offset));
        frames.emplace(position, MessageFrameWriter::chunkedMessage(id, category, position, count, piece));
    }
    return frames;
}

bool Chunker::shouldRetry() {
    setTimeout(retryTimeout);
    // Every message may be sent again, also a single-frame one of exactly 15360 bytes.
    if (retryAttempts_ <= maxRetries) ++retryAttempts_;
    const bool granted = retryAttempts_ <= maxRetries;
    if (granted) pending_ = Promise<void>::pending();
    return granted;
}

void Chunker::completed() { pending_.resolver.fulfill(); }

void Chunker::timedOut() { pending_.resolver.reject(WebRTCError::timeout("Sending chunked message")); }

}  // namespace quorvane
