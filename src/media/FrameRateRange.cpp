#include "quorvane/FrameRateRange.hpp"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "media/JsonNumbers.hpp"

namespace quorvane {

FrameRateRange::ClosedRange FrameRateRange::range() const {
    if (min > max) throw std::domain_error("Frame rate range has its minimum above its maximum");
    return {min, max};
}

void to_json(nlohmann::json& json, const FrameRateRange& range) {
    json = {{"min", range.min}, {"max", range.max}};
}

void from_json(const nlohmann::json& json, FrameRateRange& range) {
    range = {wholeNumber(json, "min"), wholeNumber(json, "max")};
}

}  // namespace quorvane
