#include "transport/FinishedChunkedMessage.hpp"

#include <algorithm>

namespace quorvane {

FinishedChunkedMessage::FinishedChunkedMessage(std::uint16_t totalChunks, bool delivered)
    : ChunkHelper(retentionTimeout), totalChunks_(totalChunks), delivered_(delivered) {}

std::shared_ptr<FinishedChunkedMessage> FinishedChunkedMessage::delivered(std::uint16_t totalChunks,
                                                                          std::span<const std::uint8_t> message) {
    std::shared_ptr<FinishedChunkedMessage> record(new FinishedChunkedMessage(totalChunks, true));
    for (std::size_t offset = 0; offset < message.size(); offset += maxChunkBytes) {
        const auto chunk = message.subspan(offset, std::min(maxChunkBytes, message.size() - offset));
        record->chunkDigests_.push_back(SingleChunk::digestOf(chunk));
    }
    return record;
}

std::shared_ptr<FinishedChunkedMessage> FinishedChunkedMessage::refused(std::uint16_t totalChunks) {
    return std::shared_ptr<FinishedChunkedMessage>(new FinishedChunkedMessage(totalChunks, false));
}

bool FinishedChunkedMessage::matches(const ChunkedMessageDataView& chunk) const {
    if (chunk.length != totalChunks_) return false;
    if (!delivered_) return true;
    return chunk.position < chunkDigests_.size() && SingleChunk::digestOf(chunk.data) == chunkDigests_[chunk.position];
}

}  // namespace quorvane
