#include "transport/ChunkAssembler.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"
#include "transport/ChunkDigest.hpp"

namespace quorvane {

ChunkAssembler::ChunkAssembler(std::uint16_t id, std::uint16_t category, const ChunkedMessageDataView& first,
                               std::shared_ptr<ZephLogger> logger)
    : ChunkHelper(assemblyTimeout),
      log_(std::move(logger), "ChunkAssembler"),
      id_(id),
      category_(category),
      totalChunks_(first.length),
      missing_(first.length, true),
      missingCount_(first.length),
      pending_(Promise<void>::pending()) {
    // Address room only: memory is taken as chunks are written.
    message_.reserve(std::size_t{totalChunks_} * maxChunkBytes);
    addChunk(first.data, first.position);
}

void ChunkAssembler::addChunk(std::span<const std::uint8_t> bytes, std::uint16_t position) {
    auto drop = [&](const std::string& reason) {
        log_.error("addChunk", "Dropped chunk " + std::to_string(position) + " of message " + std::to_string(id_) +
                                   ": " + reason);
    };
    if (position >= totalChunks_) {
        return drop("position not below the chunk count " + std::to_string(totalChunks_));
    }
    if (bytes.size() > maxChunkBytes) {
        return drop(std::to_string(bytes.size()) + " bytes, more than " + std::to_string(maxChunkBytes));
    }
    if (!missing_[position]) return;  // a repeat, or already joined

    const std::size_t offset = std::size_t{position} * maxChunkBytes;
    if (message_.size() < offset + bytes.size()) message_.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), message_.begin() + static_cast<std::ptrdiff_t>(offset));
    if (bytes.size() < maxChunkBytes) short_[position] = bytes.size();
    if (digests_.size() <= position) digests_.resize(std::size_t{position} + 1);
    digests_[position] = chunkDigest(bytes);
    missing_[position] = false;
    --missingCount_;
    resetTimestamp(now());
    if (missingCount_ == 0) join();
}

bool ChunkAssembler::belongs(const ChunkedMessageDataView& chunk) const {
    if (chunk.length != totalChunks_) return false;
    if (chunk.position >= totalChunks_ || missing_[chunk.position]) return true;
    return chunkDigest(chunk.data) == digests_[chunk.position];
}

void ChunkAssembler::join() {
    // Chunk p sits at p * 15360; each one after a shorter chunk moves up behind its predecessor.
    std::size_t end = 0;
    for (std::size_t position = 0; position < totalChunks_; ++position) {
        const auto found = short_.find(static_cast<std::uint16_t>(position));
        const std::size_t size = found == short_.end() ? maxChunkBytes : found->second;
        const std::size_t offset = position * maxChunkBytes;
        if (end != offset) std::memmove(message_.data() + end, message_.data() + offset, size);
        end += size;
    }
    message_.resize(end);
    short_.clear();
    pending_.resolver.fulfill();
}

bool ChunkAssembler::shouldRetry() {
    if (retryAttempts_ <= maxRetries) ++retryAttempts_;
    return retryAttempts_ <= maxRetries;
}

std::vector<std::uint8_t> ChunkAssembler::buildAck() const { return MessageFrameWriter::messageAck(id_, category_); }

std::vector<std::uint8_t> ChunkAssembler::buildRetry() {
    resetTimestamp(now());
    pending_ = Promise<void>::pending();
    std::vector<std::uint16_t> positions;
    positions.reserve(missingCount_);
    for (std::size_t position = 0; position < missing_.size(); ++position) {
        if (missing_[position]) positions.push_back(static_cast<std::uint16_t>(position));
    }
    return MessageFrameWriter::chunkedMessageRetry(id_, category_, positions);
}

std::vector<std::uint8_t> ChunkAssembler::buildError() const {
    return MessageFrameWriter::messageFailed(id_, category_);
}

void ChunkAssembler::timedOut() {
    pending_.resolver.reject(WebRTCError::timeout("Receiving chunked message"));
}

}  // namespace quorvane
