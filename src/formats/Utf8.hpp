#pragma once

#include <cstdint>
#include <span>

namespace quorvane {

/// True when `bytes` are well-formed UTF-8: shortest forms only, no surrogate code points,
/// nothing above U+10FFFF, no sequence cut short.
bool isValidUtf8(std::span<const std::uint8_t> bytes);

}  // namespace quorvane
