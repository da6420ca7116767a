#pragma once

// Helpers for looking at built buffers and for damaging valid ones, to check that parsers reject
// them or read them safely.

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include <flatbuffers/flatbuffers.h>

namespace quorvane::testing {

/// True when the table has the field at vtable offset `field` on the wire (a default value left
/// out, or an absent string, gives false).
template <class Table>
bool hasField(const Table* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

/// The byte stored for a one-byte field (enum, union type, bool); 0xEE when the field is absent.
template <class Table>
std::uint8_t storedByte(const Table* table, flatbuffers::voffset_t field) {
    return reinterpret_cast<const flatbuffers::Table*>(table)->GetField<std::uint8_t>(field, 0xEE);
}

/// Calls `visit` with every proper prefix of `bytes`, each in its own allocation so that reading
/// past its end is caught by the address sanitizer.
inline void forEachTruncation(const std::vector<std::uint8_t>& bytes,
                              const std::function<void(const std::vector<std::uint8_t>&)>& visit) {
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        visit(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
    }
}

/// Calls `visit` with every copy of `bytes` that has exactly one bit flipped.
inline void forEachBitFlip(const std::vector<std::uint8_t>& bytes,
                           const std::function<void(const std::vector<std::uint8_t>&)>& visit) {
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        for (int bit = 0; bit < 8; ++bit) {
            auto copy = bytes;
            copy[index] ^= static_cast<std::uint8_t>(1u << bit);
            visit(copy);
        }
    }
}

/// Calls `visit` with `count` buffers of random bytes and random lengths below `maxLength`.
inline void forEachRandomBuffer(int count, std::size_t maxLength,
                                const std::function<void(const std::vector<std::uint8_t>&)>& visit) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> bytes(length(random));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
        // Small root offsets make the random bytes reach the verifier's deeper checks.
        if (bytes.size() >= 4) bytes[0] = static_cast<std::uint8_t>(bytes[0] % bytes.size()), bytes[1] = bytes[2] = bytes[3] = 0;
        visit(bytes);
    }
}

}  // namespace quorvane::testing
