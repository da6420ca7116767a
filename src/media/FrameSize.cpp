#include "quorvane/FrameSize.hpp"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "media/JsonNumbers.hpp"
#include "media/Truncation.hpp"

namespace quorvane {

namespace {

std::int64_t multiplied(std::int64_t value, std::int64_t factor) {
    std::int64_t result = 0;
    if (__builtin_mul_overflow(value, factor, &result)) {
        throw std::overflow_error("Frame size arithmetic overflows a signed 64-bit integer");
    }
    return result;
}

std::int64_t divided(std::int64_t value, std::int64_t divisor) {
    if (divisor == 0) throw std::domain_error("Frame size divided by zero");
    if (value == INT64_MIN && divisor == -1) {
        throw std::overflow_error("Frame size arithmetic overflows a signed 64-bit integer");
    }
    return value / divisor;
}

template <class Real>
std::int64_t truncated(Real value) {
    auto result = truncateToInt64(static_cast<double>(value));
    if (!result) throw std::overflow_error("Frame size arithmetic gives no whole number of 64 bits");
    return *result;
}

}  // namespace

std::int64_t FrameSize::size() const { return multiplied(width, height); }

bool operator==(const FrameSize& left, const FrameSize& right) {
    return static_cast<__int128>(left.width) * left.height == static_cast<__int128>(right.width) * right.height;
}

FrameSize FrameSize::operator*(std::int64_t factor) const {
    return {multiplied(width, factor), multiplied(height, factor)};
}

FrameSize FrameSize::operator/(std::int64_t divisor) const {
    return {divided(width, divisor), divided(height, divisor)};
}

FrameSize FrameSize::operator*(double factor) const {
    return {truncated(static_cast<double>(width) * factor), truncated(static_cast<double>(height) * factor)};
}

FrameSize FrameSize::operator/(double divisor) const {
    return {truncated(static_cast<double>(width) / divisor), truncated(static_cast<double>(height) / divisor)};
}

FrameSize FrameSize::operator*(float factor) const {
    return {truncated(static_cast<float>(width) * factor), truncated(static_cast<float>(height) * factor)};
}

FrameSize FrameSize::operator/(float divisor) const {
    return {truncated(static_cast<float>(width) / divisor), truncated(static_cast<float>(height) / divisor)};
}

void FrameSize::throwOverflow() {
    throw std::overflow_error("Frame size factor does not fit a signed 64-bit integer");
}

void to_json(nlohmann::json& json, const FrameSize& size) {
    json = {{"width", size.width}, {"height", size.height}};
}

void from_json(const nlohmann::json& json, FrameSize& size) {
    size = {wholeNumber(json, "width"), wholeNumber(json, "height")};
}

}  // namespace quorvane
