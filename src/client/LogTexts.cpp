#include "client/LogTexts.hpp"

#include <charconv>
#include <cstdint>
#include <span>

#include "quorvane/QVError.hpp"
#include "util/ErrorDescription.hpp"
#include "util/Utf8.hpp"

namespace quorvane {

namespace {

/// How many bytes the character led by `lead` takes; 0 for a byte that leads none.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

/// The value of the well-formed UTF-8 character `character`.
std::uint32_t characterValue(std::span<const std::uint8_t> character) {
    static constexpr std::uint8_t leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t value = character[0] & leadBits[character.size()];
    for (std::size_t k = 1; k < character.size(); ++k) value = (value << 6) | (character[k] & 0x3F);
    return value;
}

bool isEscaped(std::uint32_t value) {
    return value < 0x20 || (value >= 0x7F && value < 0xA0) || value == 0x200E || value == 0x200F ||
           value == 0x061C || (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069);
}

void appendEscape(std::string& out, std::uint8_t byte) {
    switch (byte) {
        case '\0': out += "\\0"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    static constexpr char digits[] = "0123456789abcdef";
    out += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
}

}  // namespace

std::string formatPercent(float percent) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, percent, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

std::string escapedText(std::string_view text) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < bytes.size();) {
        // A byte that starts no well-formed character is escaped alone; the bytes after it are
        // read afresh.
        const auto length = sequenceLength(bytes[at]);
        const bool whole = length != 0 && at + length <= bytes.size() && isValidUtf8(bytes.subspan(at, length));
        const auto character = bytes.subspan(at, whole ? length : 1);
        if (!whole || isEscaped(characterValue(character))) {
            for (auto byte : character) appendEscape(out, byte);
        } else if (character[0] == '\\') {
            out += "\\\\";
        } else {
            out.append(reinterpret_cast<const char*>(character.data()), character.size());
        }
        at += character.size();
    }
    return out;
}

std::string errorText(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const QVErrorResponse& response) {
        return response.message();
    } catch (...) {
    }
    return errorDescription(error);
}

}  // namespace quorvane
