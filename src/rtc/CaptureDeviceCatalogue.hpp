#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::rtc {

/// A video capture device as the system lists it.
struct CaptureDevice {
    /// What the capture module opens the device by; unique on the machine.
    std::string uniqueId;
    /// The display name; two devices may share one.
    std::string name;
};

/// One way a device can capture: a frame size and the frame rates at that size.
struct CaptureFormat {
    /// A range of frame rates per second, as the system reports them.
    struct FrameRateRange {
        double minFrameRate;
        double maxFrameRate;
    };

    std::int32_t width = 0;
    std::int32_t height = 0;
    /// In the system's order; may be empty.
    std::vector<FrameRateRange> frameRateRanges;
    /// The catalogue's own code for the pixel layout; only its capturer reads it.
    std::int32_t pixelFormat = 0;
};

/// Lists the video capture devices of the machine and their formats. Thread-safe.
class CaptureDeviceCatalogue {
public:
    virtual ~CaptureDeviceCatalogue() = default;

    /// The video devices, in the system's order.
    virtual std::vector<CaptureDevice> devices() = 0;
    /// The formats `device` can capture with, in the system's order; empty when the device is gone.
    virtual std::vector<CaptureFormat> supportedFormats(const CaptureDevice& device) = 0;
};

}  // namespace quorvane::rtc
