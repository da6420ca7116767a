#pragma once

#include <concepts>
#include <cstdint>

#include <nlohmann/json_fwd.hpp>

namespace quorvane {

/// The size of a video frame in pixels. Values are stored as given: nothing checks them.
///
/// Two frame sizes are equal when their areas are equal: 1280×720, 720×1280 and 960×960 all
/// compare equal. The library never uses this equality to match a size; it compares widths and
/// heights.
///
/// The arithmetic is checked: a result that does not fit a signed 64-bit integer throws
/// std::overflow_error, a whole-number division by zero throws std::domain_error. Nothing else
/// throws.
struct FrameSize {
    std::int64_t width = 0;
    std::int64_t height = 0;

    /// The area in pixels, width × height.
    std::int64_t size() const;

    /// Equal areas; exact for every pair of values.
    friend bool operator==(const FrameSize& left, const FrameSize& right);

    /// Width and height each multiplied by `factor`.
    FrameSize operator*(std::int64_t factor) const;
    /// Width and height each divided by `divisor`, truncating toward zero.
    FrameSize operator/(std::int64_t divisor) const;
    /// Width and height each converted to double, multiplied by `factor` and truncated toward zero.
    FrameSize operator*(double factor) const;
    /// Width and height each converted to double, divided by `divisor` and truncated toward zero.
    FrameSize operator/(double divisor) const;
    /// As for double, computed in single precision.
    FrameSize operator*(float factor) const;
    /// As for double, computed in single precision.
    FrameSize operator/(float divisor) const;

    /// Any other whole-number type: its value must fit a signed 64-bit integer.
    template <std::integral N>
        requires(!std::same_as<N, std::int64_t> && !std::same_as<N, bool>)
    FrameSize operator*(N factor) const {
        return *this * toInt64(factor);
    }
    template <std::integral N>
        requires(!std::same_as<N, std::int64_t> && !std::same_as<N, bool>)
    FrameSize operator/(N divisor) const {
        return *this / toInt64(divisor);
    }

private:
    template <std::integral N>
    static std::int64_t toInt64(N value) {
        if constexpr (std::is_unsigned_v<N> && sizeof(N) >= sizeof(std::int64_t)) {
            if (value > static_cast<N>(INT64_MAX)) throwOverflow();
        }
        return static_cast<std::int64_t>(value);
    }
    [[noreturn]] static void throwOverflow();
};

/// JSON form: {"width": whole number, "height": whole number}. Decoding requires both keys and
/// whole numbers that fit a signed 64-bit integer; anything else throws the JSON library's error.
void to_json(nlohmann::json& json, const FrameSize& size);
void from_json(const nlohmann::json& json, FrameSize& size);

}  // namespace quorvane
