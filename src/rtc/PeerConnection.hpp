#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/Promise.hpp"
#include "rtc/IceCandidate.hpp"
#include "rtc/PeerConnectionConfiguration.hpp"
#include "rtc/PeerConnectionObserver.hpp"
#include "rtc/SessionDescription.hpp"

namespace webrtc {
class PeerConnectionFactoryInterface;
}

namespace quorvane {
class ZephLogger;
}

namespace quorvane::rtc {

class PeerConnectionFactory;
class RtcDataChannel;
class VideoTrack;

/// One WebRTC peer connection, made by PeerConnectionFactory. Its operations may be called from
/// any thread. Asynchronous results are promises whose WebRTC failures arrive as RtcError,
/// unchanged; a result that WebRTC drops unanswered because the connection was closed or
/// released first is rejected with RtcError of type "INVALID_STATE".
class PeerConnection {
public:
    /// Offer/answer constraints, key to value.
    using Constraints = std::map<std::string, std::string>;

    /// Closes the connection: no report reaches the observer afterwards.
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    /// The SDP text of a new offer. An absent map counts as one without entries. Rejected with
    /// "Cannot create offer for connection" when WebRTC reports neither an offer nor an error.
    Promise<std::string> createOffer(std::optional<Constraints> mandatoryConstraints,
                                     std::optional<Constraints> optionalConstraints);
    /// The SDP text of a new answer; as createOffer, with "Cannot create answer for connection".
    Promise<std::string> createAnswer(std::optional<Constraints> mandatoryConstraints,
                                      std::optional<Constraints> optionalConstraints);
    /// Applies a local description; fulfilled with the description as given.
    Promise<SessionDescription> setLocalDescription(SdpType type, std::string sdp);
    /// Applies the peer's description; fulfilled with the description as given.
    Promise<SessionDescription> setRemoteDescription(SdpType type, std::string sdp);
    /// Adds one of the peer's candidates.
    Promise<void> addIceCandidate(const IceCandidate& candidate);

    /// Opens the session's data channel: label "quorvane", unordered, without a retransmission
    /// limit. Null when WebRTC refuses (for example once the connection is closed).
    std::shared_ptr<RtcDataChannel> createDataChannel();

    /// Sends `track` to the peer as part of the streams `streamIds`. False when WebRTC refuses
    /// (for example once the connection is closed, or when the track is on it already).
    bool addTrack(const VideoTrack& track, const std::vector<std::string>& streamIds);

    /// A video track of the peer's, as this connection receives it.
    struct RemoteVideoTrack {
        std::vector<std::string> streamIds;
        std::shared_ptr<VideoTrack> track;
    };
    /// The video tracks that the peer sends on this connection as last negotiated, for tools and
    /// tests that show or count what arrives (through a renderer on the track).
    std::vector<RemoteVideoTrack> remoteVideoTracks() const;

    /// Whether a track added to the connection is not sent as last negotiated: none was
    /// negotiated since it was added, or the peer's offer had no room for it.
    bool hasUnsentTracks() const;

    SignalingState signalingState() const;
    /// The configuration in force, as WebRTC reports it.
    PeerConnectionConfiguration configuration() const;
    /// Gathers new ICE credentials and candidates at the next negotiation.
    void restartIce();
    /// Ends the connection and its data channels; later operations fail.
    void close();

private:
    friend class PeerConnectionFactory;
    struct Impl;
    class ObserverBridge;

    /// WebRTC's log lines reach `logger` while the connection lives.
    PeerConnection(std::shared_ptr<PeerConnectionFactory> factory, std::shared_ptr<ZephLogger> logger);
    /// Makes the WebRTC connection; false when WebRTC refuses.
    bool open(webrtc::PeerConnectionFactoryInterface& factory, const PeerConnectionConfiguration& configuration,
              std::weak_ptr<PeerConnection> self, std::weak_ptr<PeerConnectionObserver> observer);

    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::rtc
