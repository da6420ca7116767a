#include "media/CameraStore.hpp"

#include "media/Truncation.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"
#include "rtc/V4l2DeviceCatalogue.hpp"

namespace quorvane {

namespace {

constexpr std::size_t kMaxCameras = 2;

/// The FrameFormat of `format`, when its first frame-rate range is usable.
std::optional<FrameFormat> listedFormat(const rtc::CaptureFormat& format) {
    if (format.frameRateRanges.empty()) return std::nullopt;
    const auto& rates = format.frameRateRanges.front();
    const auto min = truncateToInt64(rates.minFrameRate);
    const auto max = truncateToInt64(rates.maxFrameRate);
    if (!min || !max || *min < 0 || *min > *max) return std::nullopt;
    return FrameFormat{{format.width, format.height}, {*min, *max}};
}

}  // namespace

CameraStore::CameraStore(std::shared_ptr<rtc::CaptureDeviceCatalogue> catalogue) : catalogue_(std::move(catalogue)) {}

const std::shared_ptr<CameraStore>& CameraStore::shared() {
    static const auto store = std::make_shared<CameraStore>(std::make_shared<rtc::V4l2DeviceCatalogue>());
    return store;
}

std::vector<CameraInfo> CameraStore::getCameras() {
    std::vector<Camera> cameras;
    std::map<std::string, std::vector<ListedFormat>> formats;
    std::vector<CameraInfo> infos;
    for (const auto& device : catalogue_->devices()) {
        if (cameras.size() == kMaxCameras) break;
        const auto supported = catalogue_->supportedFormats(device);
        // A device without formats (a metadata node, for example) captures no video.
        if (supported.empty()) continue;
        const Camera camera{device, cameras.empty()};
        CameraInfo info{device.name, camera.isFrontFacing, {}};
        auto& listed = formats[device.uniqueId];
        for (const auto& format : supported) {
            if (auto frameFormat = listedFormat(format)) {
                listed.push_back({format, *frameFormat});
                info.formats.push_back(*frameFormat);
            }
        }
        cameras.push_back(camera);
        infos.push_back(std::move(info));
    }
    std::lock_guard lock(mutex_);
    cameras_ = std::move(cameras);
    formats_ = std::move(formats);
    return infos;
}

std::vector<CameraStore::Camera> CameraStore::cameras() const {
    std::lock_guard lock(mutex_);
    return cameras_;
}

std::optional<rtc::CaptureFormat> CameraStore::avFormat(const rtc::CaptureDevice& device,
                                                        const CameraFormat& cameraFormat) const {
    const auto& wanted = cameraFormat.format;
    std::lock_guard lock(mutex_);
    const auto entry = formats_.find(device.uniqueId);
    if (entry == formats_.end()) return std::nullopt;
    for (const auto& [capture, listed] : entry->second) {
        if (capture.width == wanted.frameSize.width && capture.height == wanted.frameSize.height &&
            wanted.frameRate.min >= listed.frameRate.min && listed.frameRate.max >= wanted.frameRate.max) {
            return capture;
        }
    }
    return std::nullopt;
}

namespace detail {

std::vector<CameraInfo> getCameras() { return CameraStore::shared()->getCameras(); }

}  // namespace detail

}  // namespace quorvane
