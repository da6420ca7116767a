#include "Text.hpp"

#include <cstdint>
#include <optional>

namespace quorvane::session {

namespace {

/// One character of UTF-8: its value and how many bytes it takes.
struct Character {
    std::uint32_t value;
    std::size_t length;
};

/// The character that starts at `at`; none when its bytes are not well-formed UTF-8.
std::optional<Character> characterAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    std::uint32_t value;
    std::uint32_t least;  // the least value a sequence of this length may encode
    if (lead < 0x80) return Character{lead, 1};
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if ((byte & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return Character{value, length};
}

/// The control characters (C0, DEL, C1) and the bidirectional controls (the marks, embeddings,
/// overrides and isolates), which reorder what is shown after them.
bool isControl(std::uint32_t value) {
    return value < 0x20 || (value >= 0x7F && value < 0xA0) || value == 0x061C || value == 0x200E || value == 0x200F ||
           (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069);
}

std::string escaped(unsigned char byte) {
    switch (byte) {
        case '\0': return "\\0";
        case '\t': return "\\t";
        case '\n': return "\\n";
        case '\r': return "\\r";
        default: break;
    }
    static const char* digits = "0123456789abcdef";
    return {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
}

}  // namespace

TextPiece pieceAt(std::string_view text, std::size_t at) {
    const auto character = characterAt(text, at);
    if (!character) return {1, false};
    return {character->length, !isControl(character->value)};
}

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto character = characterAt(text, at);
        if (!character) return false;
        at += character->length;
    }
    return true;
}

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto piece = pieceAt(text, at);
        if (!piece.plain) {
            for (std::size_t k = 0; k < piece.length; ++k) shown += escaped(static_cast<unsigned char>(text[at + k]));
        } else if (text[at] == '\\') {
            shown += "\\\\";
        } else {
            shown += text.substr(at, piece.length);
        }
        at += piece.length;
    }
    return shown;
}

std::string shortened(const std::string& text, std::size_t most) {
    if (text.size() <= most) return text;
    // Cut where the character the limit falls in starts, when it is one; bytes that are not UTF-8
    // are cut anywhere (a run of continuation bytes is no character to keep whole).
    std::size_t start = most;
    while (start > 0 && most - start < 3 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const std::size_t cut = (static_cast<unsigned char>(text[start]) & 0xC0) == 0xC0 ? start : most;
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string shown(const std::string& text) { return printable(shortened(text)); }

}  // namespace quorvane::session
