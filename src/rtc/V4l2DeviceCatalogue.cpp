#include "rtc/V4l2DeviceCatalogue.hpp"

#include <array>
#include <memory>

#include <modules/video_capture/video_capture_factory.h>

namespace quorvane::rtc {

namespace {

std::unique_ptr<webrtc::VideoCaptureModule::DeviceInfo> deviceInfo() {
    return std::unique_ptr<webrtc::VideoCaptureModule::DeviceInfo>(webrtc::VideoCaptureFactory::CreateDeviceInfo());
}

}  // namespace

std::vector<CaptureDevice> V4l2DeviceCatalogue::devices() {
    std::vector<CaptureDevice> devices;
    auto info = deviceInfo();
    if (!info) return devices;
    const auto count = info->NumberOfDevices();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::array<char, 256> name{};
        std::array<char, 256> uniqueId{};
        if (info->GetDeviceName(i, name.data(), name.size(), uniqueId.data(), uniqueId.size()) != 0) continue;
        devices.push_back({uniqueId.data(), name.data()});
    }
    return devices;
}

std::vector<CaptureFormat> V4l2DeviceCatalogue::supportedFormats(const CaptureDevice& device) {
    std::vector<CaptureFormat> formats;
    auto info = deviceInfo();
    if (!info) return formats;
    const auto count = info->NumberOfCapabilities(device.uniqueId.c_str());
    for (std::int32_t i = 0; i < count; ++i) {
        webrtc::VideoCaptureCapability capability;
        if (info->GetCapability(device.uniqueId.c_str(), i, capability) != 0) continue;
        formats.push_back({capability.width,
                           capability.height,
                           {{1.0, static_cast<double>(capability.maxFPS)}},
                           static_cast<std::int32_t>(capability.videoType)});
    }
    return formats;
}

}  // namespace quorvane::rtc
