#pragma once

// Building and reading rules shared by the three FlatBuffers schemas (data-channel frames,
// application messages, signaling messages).
//
// Writing: one fresh builder of 1024 bytes per message, scalars equal to their defaults left
// out, strings created one by one (never shared), the root finished without file identifier and
// without size prefix.
//
// Reading: a received buffer is verified before anything in it is read; an enum or union type
// byte that no value names reads as the first value; an absent string reads as nothing (distinct
// from the empty text); an absent vector reads as empty.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <flatbuffers/flatbuffers.h>

namespace quorvane::wire {

/// Initial capacity of every message builder; it grows as needed.
inline constexpr std::size_t builderInitialSize = 1024;

/// A fresh builder for one message.
flatbuffers::FlatBufferBuilder makeBuilder();

/// Finishes `root` (no file identifier, no size prefix) and returns the finished bytes.
template <class Root>
std::vector<std::uint8_t> finish(flatbuffers::FlatBufferBuilder& builder, flatbuffers::Offset<Root> root) {
    builder.Finish(root);
    const std::uint8_t* start = builder.GetBufferPointer();
    return {start, start + builder.GetSize()};
}

/// A new, unshared string holding `text` (possibly empty, always present).
flatbuffers::Offset<flatbuffers::String> createString(flatbuffers::FlatBufferBuilder& builder, std::string_view text);

/// A new byte vector holding `bytes` (possibly empty, always present).
flatbuffers::Offset<flatbuffers::Vector<std::uint8_t>> createBytes(flatbuffers::FlatBufferBuilder& builder,
                                                                   std::span<const std::uint8_t> bytes);

/// Throws std::invalid_argument when `bytes` do not start on a 4-byte boundary: received
/// buffers are read in place, and every buffer from std::vector, new or malloc is aligned.
void requireAligned(std::span<const std::uint8_t> bytes);

/// The root table of `bytes` when they are one well-formed buffer of `Root` (every offset,
/// vector and string inside the bytes, required fields present), else nullptr.
template <class Root>
const Root* verifiedRoot(std::span<const std::uint8_t> bytes) {
    requireAligned(bytes);
    if (bytes.size() < sizeof(flatbuffers::uoffset_t) || bytes.size() >= FLATBUFFERS_MAX_BUFFER_SIZE) return nullptr;
    flatbuffers::Verifier verifier(bytes.data(), bytes.size());
    if (!verifier.VerifyBuffer<Root>(nullptr)) return nullptr;
    return flatbuffers::GetRoot<Root>(bytes.data());
}

/// An enum or union type as read: a byte that no value names gives the first value.
template <class Enum>
Enum knownOrFirst(Enum value) {
    return value > Enum::MAX ? Enum::MIN : value;
}

/// The text of a string field, or nothing when the field is absent.
std::optional<std::string> optionalString(const flatbuffers::String* string);

/// The elements of a byte vector field, read in place; empty when the field is absent.
std::span<const std::uint8_t> bytesOf(const flatbuffers::Vector<std::uint8_t>* vector);

}  // namespace quorvane::wire
