#pragma once

#include <memory>
#include <string>

#include "quorvane/VideoRenderer.hpp"

namespace webrtc {
class VideoTrackInterface;
}

namespace quorvane::rtc {

class PeerConnectionFactory;
class VideoSource;

/// A video track: a local one made by PeerConnectionFactory from a VideoSource, or one of the
/// peer's that a PeerConnection receives. Its operations may be called from any thread.
class VideoTrack {
public:
    /// Detaches the renderers: none is called once it returns.
    ~VideoTrack();
    VideoTrack(const VideoTrack&) = delete;
    VideoTrack& operator=(const VideoTrack&) = delete;

    std::string trackId() const;

    /// A disabled track sends black frames.
    bool isEnabled() const;
    void setEnabled(bool enabled);

    /// Shows the track's frames on `renderer`, held weakly.
    void addRenderer(const std::shared_ptr<VideoRenderer>& renderer);

    /// For this binding: the track as WebRTC sees it.
    webrtc::VideoTrackInterface* native() const;

private:
    friend class PeerConnection;
    friend class PeerConnectionFactory;
    struct Impl;
    VideoTrack(std::shared_ptr<PeerConnectionFactory> factory, webrtc::VideoTrackInterface* track);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::rtc
