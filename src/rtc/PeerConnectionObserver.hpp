#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rtc/IceCandidate.hpp"

namespace quorvane::rtc {

class PeerConnection;
class RtcDataChannel;

/// Where the offer/answer exchange stands.
enum class SignalingState { stable, haveLocalOffer, haveLocalPrAnswer, haveRemoteOffer, haveRemotePrAnswer, closed };

/// The state of the whole connection; `initial` is the state WebRTC calls "new".
enum class PeerConnectionState { initial, connecting, connected, disconnected, failed, closed };

/// The state of ICE connectivity; `initial` is the state WebRTC calls "new".
enum class IceConnectionState { initial, checking, connected, completed, failed, disconnected, closed };

/// The state of candidate gathering; `initial` is the state WebRTC calls "new".
enum class IceGatheringState { initial, gathering, complete };

/// What a peer connection reports. Every call comes on WebRTC's signaling thread with the
/// reporting connection first; whatever WebRTC handed over by pointer has already been copied.
/// Implementations must return quickly and must not wait for work that needs that thread (move
/// the work to a queue of their own); calls on the connection itself are fine.
class PeerConnectionObserver {
public:
    virtual ~PeerConnectionObserver() = default;

    virtual void peerConnectionDidChangeSignalingState(const std::shared_ptr<PeerConnection>& connection,
                                                       SignalingState state) = 0;
    /// The peer added a track; `codecNames` are the names of the receiver's codecs, in order.
    virtual void peerConnectionDidAddReceiver(const std::shared_ptr<PeerConnection>& connection,
                                              std::vector<std::string> codecNames) = 0;
    virtual void peerConnectionDidChangeConnectionState(const std::shared_ptr<PeerConnection>& connection,
                                                        PeerConnectionState state) = 0;
    /// The connection needs another offer/answer exchange.
    virtual void peerConnectionShouldNegotiate(const std::shared_ptr<PeerConnection>& connection) = 0;
    virtual void peerConnectionDidChangeIceConnectionState(const std::shared_ptr<PeerConnection>& connection,
                                                           IceConnectionState state) = 0;
    virtual void peerConnectionDidChangeIceGatheringState(const std::shared_ptr<PeerConnection>& connection,
                                                          IceGatheringState state) = 0;
    /// A local candidate for the peer.
    virtual void peerConnectionDidGenerateIceCandidate(const std::shared_ptr<PeerConnection>& connection,
                                                       IceCandidate candidate) = 0;
    /// Local candidates that are no longer usable.
    virtual void peerConnectionDidRemoveIceCandidates(const std::shared_ptr<PeerConnection>& connection,
                                                      std::vector<IceCandidate> candidates) = 0;
    /// The peer opened a data channel. Set its observer right away: messages that arrive before
    /// wait inside WebRTC until then.
    virtual void peerConnectionDidOpenDataChannel(const std::shared_ptr<PeerConnection>& connection,
                                                  std::shared_ptr<RtcDataChannel> channel) = 0;
};

}  // namespace quorvane::rtc
