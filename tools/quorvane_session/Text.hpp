#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::session {

/// One piece of a text read as UTF-8: a character, or a byte that starts none.
struct TextPiece {
    std::size_t length;
    /// False for a control character (C0, DEL, C1), a bidirectional control (U+061C, U+200E,
    /// U+200F, U+202A-U+202E, U+2066-U+2069) and a byte that is not part of well-formed UTF-8 (a
    /// piece of its own: the bytes after it are read afresh); these act on or disguise what shows.
    bool plain;
};

/// The piece of `text` that starts at `at` (before its end).
TextPiece pieceAt(std::string_view text, std::size_t at);

/// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isUtf8(std::string_view text);

/// `text` as it can be put on a terminal: every piece that is not plain (see TextPiece) is written
/// as an escape ("\0", "\t", "\n", "\r", else "\xHH" for each of its bytes), and a backslash as
/// "\\"; everything else is kept. No byte of the result can move the cursor, change the screen,
/// reorder what follows or end the line.
std::string printable(std::string_view text);

/// `text` itself when it has at most `most` bytes; else its first `most` bytes (cut where a
/// character starts) followed by "... (N bytes)", N the whole text's length.
std::string shortened(const std::string& text, std::size_t most = 200);

/// A text of the peer's or of the user's as a line shows it: shortened, then escaped.
std::string shown(const std::string& text);

}  // namespace quorvane::session
