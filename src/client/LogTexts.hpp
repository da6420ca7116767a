#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace quorvane {

/// A percentage in the shortest decimal form that reads back as the same float, with at least one
/// digit after the point: 25.0, 33.333336, 100.0.
std::string formatPercent(float percent);

/// `text` whole, as a log line can carry it: every control character (C0, DEL, C1), every
/// direction control (U+200E, U+200F, U+061C, U+202A-U+202E, U+2066-U+2069) and every byte that
/// is not part of well-formed UTF-8 is written as an escape ("\0", "\t", "\n", "\r", else "\xHH"
/// for each of its bytes), and a backslash as "\\"; everything else is kept.
std::string escapedText(std::string_view text);

/// The whole text of `error`: the message of an error response with every byte of it (a NUL
/// too), else its description.
std::string errorText(const std::exception_ptr& error);

}  // namespace quorvane
