#include "transport/SingleChunk.hpp"

namespace quorvane {

SingleChunk::SingleChunk(std::uint16_t id, std::span<const std::uint8_t> bytes)
    : ChunkHelper(retentionTimeout), id_(id), digest_(digestOf(bytes)) {}

std::uint64_t SingleChunk::digestOf(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a offset basis
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;  // FNV prime
    }
    return hash;
}

}  // namespace quorvane
