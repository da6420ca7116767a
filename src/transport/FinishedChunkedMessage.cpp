#include "transport/FinishedChunkedMessage.hpp"

#include "transport/ChunkDigest.hpp"

namespace quorvane {

FinishedChunkedMessage::FinishedChunkedMessage(std::uint16_t totalChunks, std::vector<std::uint64_t> chunkDigests)
    : ChunkHelper(retentionTimeout), totalChunks_(totalChunks), chunkDigests_(std::move(chunkDigests)) {}

bool FinishedChunkedMessage::matches(const ChunkedMessageDataView& chunk) const {
    if (chunk.length != totalChunks_) return false;
    if (chunk.position >= chunkDigests_.size() || chunkDigests_[chunk.position] == 0) return true;
    return chunkDigest(chunk.data) == chunkDigests_[chunk.position];
}

}  // namespace quorvane
