#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "quorvane/CameraInfo.hpp"
#include "quorvane/MediaConfiguration.hpp"
#include "quorvane/VideoRenderer.hpp"

namespace quorvane {

namespace detail {
std::vector<CameraInfo> getCameras();
}  // namespace detail

/// One video stream that the host shares: what to capture (a CameraFormat or a ScreenFormat)
/// and where to show the local preview. Shared by std::shared_ptr between the host and the
/// library; safe to read and change from any thread. A change of the source takes effect at the
/// next start of capture; the preview renderer is attached once, when the stream's track is made.
template <MediaConfiguration Source>
class VideoStreamConfiguration {
public:
    /// `localRenderTarget` may be null: no local preview.
    VideoStreamConfiguration(Source source, std::shared_ptr<VideoRenderer> localRenderTarget)
        : source_(std::move(source)), localRenderTarget_(std::move(localRenderTarget)) {}

    Source source() const {
        std::lock_guard lock(mutex_);
        return source_;
    }
    void setSource(Source source) {
        std::lock_guard lock(mutex_);
        source_ = std::move(source);
    }

    std::shared_ptr<VideoRenderer> localRenderTarget() const {
        std::lock_guard lock(mutex_);
        return localRenderTarget_;
    }
    void setLocalRenderTarget(std::shared_ptr<VideoRenderer> renderer) {
        std::lock_guard lock(mutex_);
        localRenderTarget_ = std::move(renderer);
    }

    /// The cameras of the device, looked up anew, each with the frame formats it can capture:
    /// the first video capture device as the front camera, the second as the back camera, at
    /// most two. Empty when the device has none.
    static std::vector<CameraInfo> getCameras() { return detail::getCameras(); }

private:
    mutable std::mutex mutex_;
    Source source_;
    std::shared_ptr<VideoRenderer> localRenderTarget_;
};

}  // namespace quorvane
