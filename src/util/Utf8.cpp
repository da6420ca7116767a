#include "util/Utf8.hpp"

#include <cstdint>

namespace quorvane {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

struct Lead {
    int length;            // bytes in the whole sequence, 0 when the byte cannot start one
    std::uint8_t low, high;  // allowed range of the second byte
};

Lead lead(std::uint8_t byte) {
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
    if (byte == 0xE0) return {3, 0xA0, 0xBF};
    if (byte == 0xED) return {3, 0x80, 0x9F};  // no UTF-16 surrogates
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
    if (byte == 0xF0) return {4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
    if (byte == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {0, 0, 0};
}

/// Bytes of the well-formed sequence at `at`, or 0 and in `bad` the length of the ill-formed
/// subpart to replace.
std::size_t wellFormedLength(std::string_view text, std::size_t at, std::size_t& bad) {
    auto first = static_cast<std::uint8_t>(text[at]);
    if (first < 0x80) return 1;
    auto [length, low, high] = lead(first);
    bad = 1;
    if (length == 0) return 0;
    for (int i = 1; i < length; ++i) {
        if (at + i >= text.size()) return 0;
        auto byte = static_cast<std::uint8_t>(text[at + i]);
        bool inRange = i == 1 ? (byte >= low && byte <= high) : (byte >= 0x80 && byte <= 0xBF);
        if (!inRange) return 0;
        bad = i + 1;
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::span<const std::uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t bad = 0;
        auto length = wellFormedLength(text, at, bad);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t bad = 0;
        auto length = wellFormedLength(text, at, bad);
        if (length > 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            out.append(replacement);
            at += bad;
        }
    }
    return out;
}

nlohmann::json withValidUtf8(const nlohmann::json& value) {
    if (value.is_string()) return validUtf8(value.get_ref<const std::string&>());
    if (value.is_array()) {
        auto out = nlohmann::json::array();
        for (const auto& element : value) out.push_back(withValidUtf8(element));
        return out;
    }
    if (value.is_object()) {
        auto out = nlohmann::json::object();
        for (const auto& [key, element] : value.items()) out[validUtf8(key)] = withValidUtf8(element);
        return out;
    }
    return value;
}

}  // namespace quorvane
