#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/CameraFormat.hpp"
#include "quorvane/CameraInfo.hpp"
#include "rtc/CaptureDeviceCatalogue.hpp"

namespace quorvane {

/// The cameras of the last catalogue refresh and the capture formats behind their CameraInfo.
/// Lookups match cameras by name, the first of equal names winning; formats are kept by device
/// id, so cameras of one name keep their own. Thread-safe: a refresh reads the catalogue first and
/// then replaces everything at once.
class CameraStore {
public:
    /// A camera of the catalogue; the first capture device is the front camera, the second the
    /// back camera (Linux does not tell which way a camera faces).
    struct Camera {
        rtc::CaptureDevice device;
        bool isFrontFacing;
    };

    explicit CameraStore(std::shared_ptr<rtc::CaptureDeviceCatalogue> catalogue);

    /// The store of the process, over the machine's V4L2 cameras.
    static const std::shared_ptr<CameraStore>& shared();

    /// Looks the cameras up anew: the first two devices that offer a format, each described with
    /// the formats whose first frame-rate range is usable (finite, not negative, minimum at most
    /// maximum, whole rates within 64 bits), in the catalogue's order.
    std::vector<CameraInfo> getCameras();

    /// The cameras of the last refresh, front camera first.
    std::vector<Camera> cameras() const;

    /// The first capture format of `device` whose size is exactly the requested one and whose
    /// first frame-rate range covers the requested range; the camera name and facing of
    /// `cameraFormat` play no part. None when the last refresh did not describe the device.
    std::optional<rtc::CaptureFormat> avFormat(const rtc::CaptureDevice& device,
                                               const CameraFormat& cameraFormat) const;

private:
    /// A capture format with the FrameFormat it was listed as.
    struct ListedFormat {
        rtc::CaptureFormat capture;
        FrameFormat listed;
    };

    const std::shared_ptr<rtc::CaptureDeviceCatalogue> catalogue_;
    mutable std::mutex mutex_;
    std::vector<Camera> cameras_;
    std::map<std::string, std::vector<ListedFormat>> formats_;
};

}  // namespace quorvane
