#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace quorvane {

/// `value` truncated toward zero, when it is finite and the result fits a signed 64-bit integer.
inline std::optional<std::int64_t> truncateToInt64(double value) {
    // 2^63 is exact in a double; every double below it truncates into range.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

}  // namespace quorvane
