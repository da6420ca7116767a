#pragma once

#include <functional>
#include <memory>
#include <string>

#include "rtc/PeerConnectionConfiguration.hpp"

namespace quorvane {
class ZephLogger;
}

namespace quorvane::rtc {

class PeerConnection;
class PeerConnectionObserver;
class VideoSource;
class VideoTrack;

/// The process's one maker of peer connections. It runs WebRTC's network, worker and signaling
/// threads and holds the default video encoder and decoder factories; it opens no audio device,
/// since the library sends no audio. Every peer connection and data channel keeps it alive, so its
/// threads stop only after all of them are gone.
class PeerConnectionFactory : public std::enable_shared_from_this<PeerConnectionFactory> {
public:
    /// The factory of the process, made on first use; safe when first used from several threads
    /// at once.
    static std::shared_ptr<PeerConnectionFactory> shared();

    ~PeerConnectionFactory();
    PeerConnectionFactory(const PeerConnectionFactory&) = delete;
    PeerConnectionFactory& operator=(const PeerConnectionFactory&) = delete;

    /// For tests and the local demo: true makes peer connections created afterwards ignore every
    /// network adapter but loopback, so that two peers of one machine meet on 127.0.0.1 and
    /// nothing leaves it. False (the default) uses WebRTC's usual adapters.
    void setLoopbackOnly(bool loopbackOnly);

    /// A new peer connection made with `configuration`, reporting to `observer` (held weakly).
    /// Null when WebRTC refuses to make it (for example an ICE server URL it cannot parse).
    /// WebRTC's log lines go to `logger` while the connection lives (see WebRtcLog).
    std::shared_ptr<PeerConnection> createPeerConnection(const PeerConnectionConfiguration& configuration,
                                                         std::weak_ptr<PeerConnectionObserver> observer,
                                                         std::shared_ptr<ZephLogger> logger = nullptr);

    /// A new video source; `isScreencast` for a screen.
    std::shared_ptr<VideoSource> createVideoSource(bool isScreencast);
    /// A new track named `trackId` that carries the frames of `source`. Null when WebRTC refuses
    /// to make it.
    std::shared_ptr<VideoTrack> createVideoTrack(const VideoSource& source, const std::string& trackId);

    /// Runs `task` soon on WebRTC's signaling thread, the thread of every peer-connection and
    /// data-channel report.
    void postToSignalingThread(std::function<void()> task);
    /// Runs `task` on WebRTC's signaling thread and waits for it; inline when called there.
    void runOnSignalingThread(const std::function<void()>& task);

private:
    PeerConnectionFactory();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::rtc
