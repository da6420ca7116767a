#include "transport/SingleChunk.hpp"

namespace quorvane {

SingleChunk::SingleChunk(std::uint16_t id, std::span<const std::uint8_t> bytes)
    : ChunkHelper(retentionTimeout), id_(id), digest_(chunkDigest(bytes)) {}

}  // namespace quorvane
