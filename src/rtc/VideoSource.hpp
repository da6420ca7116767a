#pragma once

#include <cstdint>
#include <memory>

#include "rtc/PixelBuffer.hpp"

namespace webrtc {
class VideoFrame;
class VideoTrackSourceInterface;
}  // namespace webrtc

namespace quorvane::rtc {

class PeerConnectionFactory;

/// The source of a video track, made by PeerConnectionFactory: every frame handed to it goes to
/// the tracks made from it. Frames may come from any thread. A screencast source tells encoders
/// to favour sharpness over motion.
class VideoSource {
public:
    ~VideoSource();
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    /// One picture taken at `timestampNs` (nanoseconds), upright. The frame wraps `pixels`
    /// without copying; it is converted only when a consumer needs another layout.
    void deliverFrame(std::shared_ptr<const PixelBuffer> pixels, std::int64_t timestampNs);
    /// A frame already in WebRTC's form, from a capturer of this binding.
    void deliverFrame(const webrtc::VideoFrame& frame);

    /// For this binding: the source as WebRTC sees it.
    webrtc::VideoTrackSourceInterface* native() const;

private:
    friend class PeerConnectionFactory;
    struct Impl;
    VideoSource(std::shared_ptr<PeerConnectionFactory> factory, bool isScreencast);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::rtc
