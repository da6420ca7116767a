#pragma once

#include <string>

#include "quorvane/CameraFormat.hpp"
#include "quorvane/FrameFormat.hpp"
#include "quorvane/MediaStreamController.hpp"

namespace quorvane {

/// Controls a camera stream.
class CameraStreamController : public MediaStreamController {
public:
    /// The camera that changeFormat works on: the configured camera, then the one of the last
    /// successful switchCamera. Setting it changes no capture by itself.
    virtual std::string cameraName() const = 0;
    virtual void setCameraName(std::string name) = 0;

    /// Stops capture and starts it on the camera and with the format that `cameraFormat` names.
    /// Rejected with QVError "Could not access specified camera" or "Could not access specified
    /// camera format" (status code 0) when the catalogue has no such camera or format, or with
    /// the capturer's error; capture is stopped then.
    virtual Promise<void> switchCamera(const CameraFormat& cameraFormat) = 0;
    /// As switchCamera, on the camera named by cameraName() with `format`.
    virtual Promise<void> changeFormat(const FrameFormat& format) = 0;
};

}  // namespace quorvane
