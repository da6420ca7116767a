#pragma once

#include <memory>
#include <string>

#include "quorvane/Promise.hpp"

namespace quorvane {

namespace rtc {
class PeerConnection;
class VideoTrack;
}  // namespace rtc

/// What the peer connection needs of a video stream: its track, made once on the peer-connection
/// factory the stream was built with, added to each peer connection, and capture started and
/// stopped. Every operation may be called from any thread. Capture itself runs on the capturer's
/// own thread, but startCapture() looks the device up on the calling thread (camera enumeration,
/// opening the X display): call it from a queue of the caller's, not from WebRTC's threads.
class MediaStreamContainer {
public:
    virtual ~MediaStreamContainer() = default;

    /// "CAMERA" or "SCREEN": the stream id under which the track goes on a peer connection.
    virtual const std::string& kind() const = 0;

    /// Makes the video source, the capturer and the enabled track (with the configuration's local
    /// preview) and returns the track; a later call returns the same track. Null only when WebRTC
    /// refuses to make a track.
    virtual std::shared_ptr<rtc::VideoTrack> initialize() = 0;
    /// The track made by initialize(); null before.
    virtual std::shared_ptr<rtc::VideoTrack> getVideoTrack() const = 0;
    /// Adds the track to `connection` under the stream id kind(). False, after nothing was added,
    /// when there is no track yet or WebRTC refuses (a closed connection, the track on it already).
    virtual bool addTrack(rtc::PeerConnection& connection) = 0;

    /// Fulfilled at once while capturing; a start still under way is returned as it is; otherwise
    /// capture starts and the promise settles once the capturer has answered. Rejected with the
    /// capturer's error or a QVError with status code 0.
    virtual Promise<void> startCapture() = 0;
    /// Stops capture.
    virtual void stopCapture() = 0;
};

}  // namespace quorvane
