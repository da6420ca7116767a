#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane::testing {

/// Byte `offset` of the test pattern with `seed`: it differs at every chunk position and from one
/// seed to the next, so that misplaced, lost or foreign bytes show.
inline std::uint8_t patternByte(std::uint64_t offset, std::uint8_t seed) {
    return static_cast<std::uint8_t>((offset * 131) ^ (offset >> 9) ^ (offset >> 17) ^ seed);
}

/// `size` bytes of the pattern with `seed`.
inline std::vector<std::uint8_t> patterned(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = patternByte(i, seed);
    return data;
}

}  // namespace quorvane::testing
