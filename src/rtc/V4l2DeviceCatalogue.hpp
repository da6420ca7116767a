#pragma once

#include "rtc/CaptureDeviceCatalogue.hpp"

namespace quorvane::rtc {

/// The machine's V4L2 cameras, through WebRTC's capture module. A format's frame rates range
/// from 1 to the highest rate the module reports for it.
class V4l2DeviceCatalogue final : public CaptureDeviceCatalogue {
public:
    std::vector<CaptureDevice> devices() override;
    std::vector<CaptureFormat> supportedFormats(const CaptureDevice& device) override;
};

}  // namespace quorvane::rtc
