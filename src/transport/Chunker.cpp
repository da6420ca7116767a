#include "transport/Chunker.hpp"

#include <algorithm>
#include <span>

#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"

namespace quorvane {

namespace {

std::uint16_t chunkCountOf(std::size_t size) {
    if (size > Chunker::maxMessageBytes) return 0;
    if (size <= maxChunkBytes) return 1;
    return static_cast<std::uint16_t>((size + maxChunkBytes - 1) / maxChunkBytes);
}

}  // namespace

Chunker::Chunker(std::vector<std::uint8_t> data, std::uint16_t id, std::uint16_t category)
    : ChunkHelper(initialTimeout),
      id_(id),
      category_(category),
      data_(std::move(data)),
      chunkCount_(chunkCountOf(data_.size())),
      pending_(Promise<void>::pending()) {}

std::vector<std::uint8_t> Chunker::frame(std::uint16_t position) const {
    const std::span<const std::uint8_t> bytes(data_);
    if (isSingleChunk()) return MessageFrameWriter::singleMessage(id_, category_, bytes);
    const std::size_t offset = std::size_t{position} * maxChunkBytes;
    return MessageFrameWriter::chunkedMessage(id_, category_, position, chunkCount_,
                                              bytes.subspan(offset, std::min(maxChunkBytes, bytes.size() - offset)));
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
