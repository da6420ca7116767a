#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "quorvane/FrameFormat.hpp"

namespace quorvane {

struct CameraFormat;

/// One camera of the catalogue (VideoStreamConfiguration::getCameras()) with the frame formats
/// it offers, in the capture module's order (duplicates kept).
struct CameraInfo {
    /// The camera's display name.
    std::string name;
    /// The catalogue's first camera counts as front-facing, its second as back-facing: Linux does
    /// not tell which way a camera faces.
    bool isFrontFacing = false;
    std::vector<FrameFormat> formats;

    /// This camera captured with `format`, which need not be one of `formats`.
    CameraFormat withFormat(const FrameFormat& format) const;
};

/// JSON form: {"name": text, "isFrontFacing": boolean, "formats": [FrameFormat...]}; every key
/// required, an empty list allowed.
void to_json(nlohmann::json& json, const CameraInfo& camera);
void from_json(const nlohmann::json& json, CameraInfo& camera);

}  // namespace quorvane
