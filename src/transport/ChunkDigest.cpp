#include "transport/ChunkDigest.hpp"

#include <cstring>

namespace quorvane {

namespace {

constexpr std::uint64_t multiplier = 0x9e3779b97f4a7c15ull;  // odd: multiplying by it is reversible

/// One step: reversible for a fixed `word`, so that a changed word always changes the state.
std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
    state = (state ^ word) * multiplier;
    return state ^ (state >> 29);
}

}  // namespace

std::uint64_t chunkDigest(std::span<const std::uint8_t> bytes) {
    std::uint64_t state = mix(0, bytes.size());
    std::size_t offset = 0;
    for (; offset + sizeof(std::uint64_t) <= bytes.size(); offset += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + offset, sizeof word);
        state = mix(state, word);
    }
    if (offset < bytes.size()) {
        std::uint64_t tail = 0;
        std::memcpy(&tail, bytes.data() + offset, bytes.size() - offset);
        state = mix(state, tail);
    }
    state = mix(state, 0);  // spreads the last word over every bit
    return state | 1;
}

}  // namespace quorvane
