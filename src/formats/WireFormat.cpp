#include "formats/WireFormat.hpp"

#include <cstring>
#include <stdexcept>

namespace quorvane::wire {

std::uint8_t* VectorAllocator::allocate(std::size_t size) {
    buffer_ = std::vector<std::uint8_t>(size);
    return buffer_.data();
}

std::uint8_t* VectorAllocator::reallocate_downward(std::uint8_t* old, std::size_t oldSize, std::size_t newSize,
                                                   std::size_t inUseBack, std::size_t inUseFront) {
    std::vector<std::uint8_t> grown(newSize);
    memcpy_downward(old, oldSize, grown.data(), newSize, inUseBack, inUseFront);
    buffer_.swap(grown);
    return buffer_.data();
}

MessageBuilder::MessageBuilder(std::size_t payloadBytes)
    : flatbuffers::FlatBufferBuilder(builderInitialSize + payloadBytes, this) {}

std::vector<std::uint8_t> MessageBuilder::release() {
    const std::size_t size = GetSize();
    Reset();  // lets go of the buffer, whose last `size` bytes are the message
    buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(size));
    return std::move(buffer_);
}

flatbuffers::Offset<flatbuffers::String> createString(flatbuffers::FlatBufferBuilder& builder, std::string_view text) {
    // An empty string_view may hold a null pointer, which must not reach memcpy.
    return builder.CreateString(text.empty() ? "" : text.data(), text.size());
}

flatbuffers::Offset<flatbuffers::Vector<std::uint8_t>> createBytes(flatbuffers::FlatBufferBuilder& builder,
                                                                   std::span<const std::uint8_t> bytes) {
    return builder.CreateVector(bytes.data(), bytes.size());
}

void requireAligned(std::span<const std::uint8_t> bytes) {
    if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(flatbuffers::uoffset_t) != 0) {
        throw std::invalid_argument("A received buffer must start on a 4-byte boundary");
    }
}

std::optional<std::string> optionalString(const flatbuffers::String* string) {
    if (string == nullptr) return std::nullopt;
    return string->str();
}

std::span<const std::uint8_t> bytesOf(const flatbuffers::Vector<std::uint8_t>* vector) {
    if (vector == nullptr) return {};
    return {vector->data(), vector->size()};
}

}  // namespace quorvane::wire
