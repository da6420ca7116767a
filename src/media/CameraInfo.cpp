#include "quorvane/CameraInfo.hpp"

#include <nlohmann/json.hpp>

#include "quorvane/CameraFormat.hpp"

namespace quorvane {

CameraFormat CameraInfo::withFormat(const FrameFormat& format) const { return CameraFormat(*this, format); }

void to_json(nlohmann::json& json, const CameraInfo& camera) {
    json = {{"name", camera.name}, {"isFrontFacing", camera.isFrontFacing}, {"formats", camera.formats}};
}

void from_json(const nlohmann::json& json, CameraInfo& camera) {
    camera = {json.at("name").get<std::string>(), json.at("isFrontFacing").get<bool>(),
              json.at("formats").get<std::vector<FrameFormat>>()};
}

}  // namespace quorvane
