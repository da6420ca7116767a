#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvane {

/// True when `bytes` are well-formed UTF-8: shortest forms only, no surrogate code points,
/// nothing above U+10FFFF, no sequence cut short.
bool isValidUtf8(std::span<const std::uint8_t> bytes);

/// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD (one replacement per maximal
/// ill-formed subpart). Well-formed text comes back unchanged.
std::string validUtf8(std::string_view text);

/// `value` with validUtf8 applied to every string and every object key inside it, so that any
/// later dump() of it succeeds.
nlohmann::json withValidUtf8(const nlohmann::json& value);

}  // namespace quorvane
