#pragma once

#include <cstdint>
#include <memory>

#include "quorvane/DispatchQueue.hpp"
#include "rtc/PeerConnectionObserver.hpp"

namespace quorvane {

class WebRtcClient;

/// The observer of one peer connection of a WebRtcClient. It copies each report and hands it to
/// the client on the client's queue, tagged with the generation in which the connection was
/// made, so that the client can tell reports of its current connection from late ones of a
/// connection it has left. Holds the client weakly; the client keeps it as long as the
/// connection.
class RtcPeerConnectionDelegate final : public rtc::PeerConnectionObserver {
public:
    RtcPeerConnectionDelegate(std::weak_ptr<WebRtcClient> client, DispatchQueuePtr queue, std::uint64_t generation);

    void peerConnectionDidChangeSignalingState(const std::shared_ptr<rtc::PeerConnection>& connection,
                                               rtc::SignalingState state) override;
    void peerConnectionDidAddReceiver(const std::shared_ptr<rtc::PeerConnection>& connection,
                                      std::vector<std::string> codecNames) override;
    void peerConnectionDidChangeConnectionState(const std::shared_ptr<rtc::PeerConnection>& connection,
                                                rtc::PeerConnectionState state) override;
    void peerConnectionShouldNegotiate(const std::shared_ptr<rtc::PeerConnection>& connection) override;
    void peerConnectionDidChangeIceConnectionState(const std::shared_ptr<rtc::PeerConnection>& connection,
                                                   rtc::IceConnectionState state) override;
    void peerConnectionDidChangeIceGatheringState(const std::shared_ptr<rtc::PeerConnection>& connection,
                                                  rtc::IceGatheringState state) override;
    void peerConnectionDidGenerateIceCandidate(const std::shared_ptr<rtc::PeerConnection>& connection,
                                               rtc::IceCandidate candidate) override;
    void peerConnectionDidRemoveIceCandidates(const std::shared_ptr<rtc::PeerConnection>& connection,
                                              std::vector<rtc::IceCandidate> candidates) override;
    void peerConnectionDidOpenDataChannel(const std::shared_ptr<rtc::PeerConnection>& connection,
                                          std::shared_ptr<rtc::RtcDataChannel> channel) override;

private:
    /// Runs `handle(client)` on the client's queue while the client lives.
    template <class Handle>
    void post(Handle handle);

    const std::weak_ptr<WebRtcClient> client_;
    const DispatchQueuePtr queue_;
    const std::uint64_t generation_;
};

}  // namespace quorvane
