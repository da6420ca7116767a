#pragma once

#include <cstdint>

#include <nlohmann/json_fwd.hpp>

namespace quorvane {

/// A range of frame rates in whole frames per second. Values are stored as given: nothing checks
/// that `min` is at most `max`. There is no equality.
struct FrameRateRange {
    /// The closed range of rates from `lowerBound` to `upperBound`, both included.
    struct ClosedRange {
        std::int64_t lowerBound;
        std::int64_t upperBound;

        bool contains(std::int64_t rate) const { return lowerBound <= rate && rate <= upperBound; }
    };

    std::int64_t min = 0;
    std::int64_t max = 0;

    /// From `min` to `max`; throws std::domain_error when `min` is above `max`.
    ClosedRange range() const;
};

/// JSON form: {"min": whole number, "max": whole number}; decoding as for FrameSize.
void to_json(nlohmann::json& json, const FrameRateRange& range);
void from_json(const nlohmann::json& json, FrameRateRange& range);

}  // namespace quorvane
