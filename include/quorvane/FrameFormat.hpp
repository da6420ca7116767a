#pragma once

#include <nlohmann/json_fwd.hpp>

#include "quorvane/FrameRateRange.hpp"
#include "quorvane/FrameSize.hpp"

namespace quorvane {

/// A frame size with the range of frame rates offered at that size.
struct FrameFormat {
    FrameSize frameSize;
    FrameRateRange frameRate;

    /// Equal frame sizes by area (see FrameSize); the frame rates are not compared.
    friend bool operator==(const FrameFormat& left, const FrameFormat& right) {
        return left.frameSize == right.frameSize;
    }
};

/// JSON form: {"frameSize": FrameSize, "frameRate": FrameRateRange}; both keys required.
void to_json(nlohmann::json& json, const FrameFormat& format);
void from_json(const nlohmann::json& json, FrameFormat& format);

}  // namespace quorvane
