#include "transport/ChunkAssembler.hpp"

#include <string>

#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"

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
      pending_(Promise<std::vector<std::uint8_t>>::pending()) {
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
    if (missingCount_ == 0) return;  // already joined: a late copy changes nothing

    auto& stored = chunks_[position];
    bytesHeld_ = bytesHeld_ - stored.size() + bytes.size();
    stored.assign(bytes.begin(), bytes.end());
    if (!missing_[position]) return;  // a repeat replaces the bytes but is not new

    missing_[position] = false;
    --missingCount_;
    resetTimestamp(now());
    if (missingCount_ == 0) join();
}

void ChunkAssembler::join() {
    std::vector<std::uint8_t> message;
    message.reserve(bytesHeld_);
    for (auto& [position, bytes] : chunks_) message.insert(message.end(), bytes.begin(), bytes.end());
    chunks_.clear();
    bytesHeld_ = 0;
    pending_.resolver.fulfill(std::move(message));
}

bool ChunkAssembler::shouldRetry() {
    if (retryAttempts_ <= maxRetries) ++retryAttempts_;
    return retryAttempts_ <= maxRetries;
}

std::vector<std::uint8_t> ChunkAssembler::buildAck() const { return MessageFrameWriter::messageAck(id_, category_); }

std::vector<std::uint8_t> ChunkAssembler::buildRetry() {
    resetTimestamp(now());
    pending_ = Promise<std::vector<std::uint8_t>>::pending();
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
