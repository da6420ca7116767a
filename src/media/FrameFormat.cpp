#include "quorvane/FrameFormat.hpp"

#include <nlohmann/json.hpp>

namespace quorvane {

void to_json(nlohmann::json& json, const FrameFormat& format) {
    json = {{"frameSize", format.frameSize}, {"frameRate", format.frameRate}};
}

void from_json(const nlohmann::json& json, FrameFormat& format) {
    format = {json.at("frameSize").get<FrameSize>(), json.at("frameRate").get<FrameRateRange>()};
}

}  // namespace quorvane
