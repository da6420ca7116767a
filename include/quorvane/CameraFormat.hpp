#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "quorvane/CameraInfo.hpp"
#include "quorvane/FrameFormat.hpp"
#include "quorvane/MediaConfiguration.hpp"

namespace quorvane {

/// The source of a camera stream: which camera, and the frame size and rates to capture with.
/// Usually made from a catalogue entry with CameraInfo::withFormat.
struct CameraFormat {
    std::string cameraName;
    bool isFrontFacing = false;
    FrameFormat format;

    CameraFormat() = default;
    CameraFormat(std::string cameraName, bool isFrontFacing, FrameFormat format)
        : cameraName(std::move(cameraName)), isFrontFacing(isFrontFacing), format(format) {}
    /// The camera's name and facing with `format`; the camera's own list of formats is not consulted.
    CameraFormat(const CameraInfo& camera, FrameFormat format)
        : CameraFormat(camera.name, camera.isFrontFacing, format) {}
};

template <>
struct IsMediaConfiguration<CameraFormat> : std::true_type {};

/// JSON form: {"cameraName": text, "isFrontFacing": boolean, "format": FrameFormat}; every key
/// required.
void to_json(nlohmann::json& json, const CameraFormat& format);
void from_json(const nlohmann::json& json, CameraFormat& format);

}  // namespace quorvane
