#pragma once

#include <cstdint>
#include <span>

namespace quorvane {

/// A 64-bit digest of `bytes`, to tell a repeated frame from a new one under the same id without
/// keeping its bytes: two different inputs share a digest with a chance of about 2^-63. Not a
/// defence against a peer that crafts collisions. Never 0, so that 0 can stand for "no digest".
/// Reads eight bytes a step: cheap enough to take for every chunk as it arrives.
std::uint64_t chunkDigest(std::span<const std::uint8_t> bytes);

}  // namespace quorvane
