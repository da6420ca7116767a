#pragma once

// Building and reading rules shared by the three FlatBuffers schemas (data-channel frames,
// application messages, signaling messages).
//
// Writing: one fresh builder per message (1024 bytes, plus the size of the payload it is told
// of), scalars equal to their defaults left out, strings created one by one (never shared), the
// root finished without file identifier and without size prefix. The finished bytes are the
// builder's own buffer, handed over without a copy.
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

/// Room every message builder takes at first beyond the payload it is told of; it grows as needed.
inline constexpr std::size_t builderInitialSize = 1024;

/// Lends a builder one std::vector as its buffer, which stays with the allocator when the
/// builder lets go of it.
class VectorAllocator : public flatbuffers::Allocator {
public:
    std::uint8_t* allocate(std::size_t size) override;
    void deallocate(std::uint8_t*, std::size_t) override {}
    std::uint8_t* reallocate_downward(std::uint8_t* old, std::size_t oldSize, std::size_t newSize,
                                      std::size_t inUseBack, std::size_t inUseFront) override;

protected:
    std::vector<std::uint8_t> buffer_;
};

/// The builder of one message, writing into a std::vector that becomes the finished message.
/// It takes room for `payloadBytes` beyond builderInitialSize at once, so that a message that
/// carries a large payload is written without growing (each growth copies what is written).
class MessageBuilder : private VectorAllocator, public flatbuffers::FlatBufferBuilder {
public:
    explicit MessageBuilder(std::size_t payloadBytes = 0);
    MessageBuilder(const MessageBuilder&) = delete;
    MessageBuilder& operator=(const MessageBuilder&) = delete;

    /// The finished message: the buffer itself, its unused front cut off in place. The builder is
    /// empty afterwards.
    std::vector<std::uint8_t> release();
};

/// Finishes `root` (no file identifier, no size prefix) and returns the finished bytes.
template <class Root>
std::vector<std::uint8_t> finish(MessageBuilder& builder, flatbuffers::Offset<Root> root) {
    builder.Finish(root);
    return builder.release();
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
