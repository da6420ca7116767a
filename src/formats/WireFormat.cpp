#include "formats/WireFormat.hpp"

#include <stdexcept>

namespace quorvane::wire {

flatbuffers::FlatBufferBuilder makeBuilder() { return flatbuffers::FlatBufferBuilder(builderInitialSize); }

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
