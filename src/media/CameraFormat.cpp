#include "quorvane/CameraFormat.hpp"

#include <nlohmann/json.hpp>

namespace quorvane {

void to_json(nlohmann::json& json, const CameraFormat& format) {
    json = {{"cameraName", format.cameraName}, {"isFrontFacing", format.isFrontFacing}, {"format", format.format}};
}

void from_json(const nlohmann::json& json, CameraFormat& format) {
    format = CameraFormat(json.at("cameraName").get<std::string>(), json.at("isFrontFacing").get<bool>(),
                          json.at("format").get<FrameFormat>());
}

}  // namespace quorvane
