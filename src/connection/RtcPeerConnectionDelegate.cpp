#include "connection/RtcPeerConnectionDelegate.hpp"

#include "connection/WebRtcClient.hpp"
#include "rtc/RtcDataChannel.hpp"

namespace quorvane {

RtcPeerConnectionDelegate::RtcPeerConnectionDelegate(std::weak_ptr<WebRtcClient> client, DispatchQueuePtr queue,
                                                     std::uint64_t generation)
    : client_(std::move(client)), queue_(std::move(queue)), generation_(generation) {}

template <class Handle>
void RtcPeerConnectionDelegate::post(Handle handle) {
    queue_->async([client = client_, handle = std::move(handle)]() mutable {
        if (auto self = client.lock()) handle(*self);
    });
}

void RtcPeerConnectionDelegate::peerConnectionDidChangeSignalingState(const std::shared_ptr<rtc::PeerConnection>&,
                                                                      rtc::SignalingState state) {
    post([state](WebRtcClient& client) { client.didChangeSignalingState(state); });
}

void RtcPeerConnectionDelegate::peerConnectionDidAddReceiver(const std::shared_ptr<rtc::PeerConnection>&,
                                                             std::vector<std::string> codecNames) {
    post([codecNames = std::move(codecNames)](WebRtcClient& client) { client.didAddReceiver(codecNames); });
}

void RtcPeerConnectionDelegate::peerConnectionDidChangeConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                                       rtc::PeerConnectionState state) {
    post([generation = generation_, state](WebRtcClient& client) { client.didChangeConnectionState(generation, state); });
}

void RtcPeerConnectionDelegate::peerConnectionShouldNegotiate(const std::shared_ptr<rtc::PeerConnection>&) {
    post([generation = generation_](WebRtcClient& client) { client.shouldNegotiate(generation); });
}

void RtcPeerConnectionDelegate::peerConnectionDidChangeIceConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                                          rtc::IceConnectionState state) {
    post([generation = generation_, state](WebRtcClient& client) {
        client.didChangeIceConnectionState(generation, state);
    });
}

void RtcPeerConnectionDelegate::peerConnectionDidChangeIceGatheringState(const std::shared_ptr<rtc::PeerConnection>&,
                                                                         rtc::IceGatheringState state) {
    post([state](WebRtcClient& client) { client.didChangeIceGatheringState(state); });
}

void RtcPeerConnectionDelegate::peerConnectionDidGenerateIceCandidate(const std::shared_ptr<rtc::PeerConnection>&,
                                                                      rtc::IceCandidate candidate) {
    post([generation = generation_, candidate = std::move(candidate)](WebRtcClient& client) {
        client.didGenerateIceCandidate(generation, candidate);
    });
}

void RtcPeerConnectionDelegate::peerConnectionDidRemoveIceCandidates(const std::shared_ptr<rtc::PeerConnection>&,
                                                                     std::vector<rtc::IceCandidate>) {
    post([](WebRtcClient& client) { client.didRemoveIceCandidates(); });
}

void RtcPeerConnectionDelegate::peerConnectionDidOpenDataChannel(const std::shared_ptr<rtc::PeerConnection>&,
                                                                 std::shared_ptr<rtc::RtcDataChannel> channel) {
    post([generation = generation_, channel = std::move(channel)](WebRtcClient& client) mutable {
        client.didOpenDataChannel(generation, std::move(channel));
    });
}

}  // namespace quorvane
