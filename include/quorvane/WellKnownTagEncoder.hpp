#pragma once

// Codecs that turn common values into tagged payloads and back, so that a host and its peer agree
// on how a text, a blob, a JSON value, a number or a flag travels. No decoder looks at the tag:
// each reads the payload bytes only.

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvane/QVTaggedData.hpp"
#include "quorvane/WellKnownTags.hpp"

namespace quorvane {

class WellKnownTagEncoder {
public:
    /// The tagged data with the empty tag and no bytes.
    static const QVTaggedData& Empty();

    /// Text as its UTF-8 bytes: no length, no terminator, no byte-order mark.
    struct Text {
        /// Tag `text`; none when `text` is not valid UTF-8.
        static std::optional<QVTaggedData> encode(std::string_view text);
        /// The payload as text; none when it is not valid UTF-8 (strictly: no overlong forms,
        /// no surrogates, nothing above U+10FFFF).
        static std::optional<std::string> decode(const QVTaggedData& data);
    };

    /// Bytes unchanged.
    struct Bytes {
        static QVTaggedData encode(std::vector<std::uint8_t> bytes);
        static std::vector<std::uint8_t> decode(const QVTaggedData& data);
    };

    /// A value as JSON text in UTF-8, through nlohmann::json's to_json / from_json for `T`.
    /// Failures of the JSON coder (nlohmann::json exceptions) reach the caller as they are.
    struct Json {
        template <class T>
        static QVTaggedData encode(const T& value) {
            std::string text = nlohmann::json(value).dump();
            return {std::string(rawValue(WellKnownTags::json)), {text.begin(), text.end()}};
        }
        template <class T>
        static T decode(const QVTaggedData& data) {
            return nlohmann::json::parse(data.data().begin(), data.data().end()).template get<T>();
        }
    };

    /// A number as its little-endian image: exactly its size in bytes, integers in two's
    /// complement, floating point in IEEE 754. The tag is the caller's choice (`int32` for
    /// std::int32_t, `int64` for std::int64_t, `float32` for float, `float64` for double); it is
    /// not checked against the type, and the receiver decodes with the type the tag names.
    struct Number {
        template <class T>
            requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
        static QVTaggedData encode(T value, WellKnownTags tag) {
            auto bits = std::bit_cast<Unsigned<T>>(value);
            std::vector<std::uint8_t> bytes(sizeof(T));
            for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
            return {std::string(rawValue(tag)), std::move(bytes)};
        }

        /// None unless the payload is exactly sizeof(T) bytes long.
        template <class T>
            requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
        static std::optional<T> decode(const QVTaggedData& data) {
            const auto& bytes = data.data();
            if (bytes.size() != sizeof(T)) return std::nullopt;
            Unsigned<T> bits = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<Unsigned<T>>(bytes[i]) << (8 * i);
            return std::bit_cast<T>(bits);
        }

    private:
        template <class T>
        using Unsigned = std::conditional_t<
            sizeof(T) == 1, std::uint8_t,
            std::conditional_t<sizeof(T) == 2, std::uint16_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    };

    /// A flag as one byte: 1 for true, 0 for false.
    struct Boolean {
        static QVTaggedData encode(bool value);
        /// None unless the payload is exactly one byte; true when that byte is 1, else false.
        static std::optional<bool> decode(const QVTaggedData& data);
    };
};

}  // namespace quorvane
