#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionObserver.hpp"
#include "rtc/RtcDataChannel.hpp"

namespace quorvane::testing {

/// One side of a test connection: hands its own candidates to `sendCandidate`, adds the other
/// side's once its remote description is in place, and keeps the data channel the other side
/// opened.
class PeerSide : public rtc::PeerConnectionObserver {
public:
    explicit PeerSide(std::function<void(rtc::IceCandidate)> sendCandidate);

    std::shared_ptr<rtc::PeerConnection> connection();
    /// The previous connection is released outside the lock: closing it waits for WebRTC's
    /// signaling thread, which may be waiting for the lock in a report.
    void setConnection(std::shared_ptr<rtc::PeerConnection> connection);

    /// One of the other side's candidates: added now, or once the remote description is in place.
    void addRemoteCandidate(rtc::IceCandidate candidate);
    /// From now on candidates go straight into the connection; those that came early follow.
    void remoteDescriptionApplied();
    /// The channel the other side opened, or null when none came by `deadline`.
    std::shared_ptr<rtc::RtcDataChannel> waitForChannel(std::chrono::steady_clock::time_point deadline);

    void peerConnectionDidGenerateIceCandidate(const std::shared_ptr<rtc::PeerConnection>&,
                                               rtc::IceCandidate candidate) override;
    void peerConnectionDidOpenDataChannel(const std::shared_ptr<rtc::PeerConnection>&,
                                          std::shared_ptr<rtc::RtcDataChannel> channel) override;
    void peerConnectionDidChangeSignalingState(const std::shared_ptr<rtc::PeerConnection>&,
                                               rtc::SignalingState) override {}
    void peerConnectionDidAddReceiver(const std::shared_ptr<rtc::PeerConnection>&,
                                      std::vector<std::string>) override {}
    void peerConnectionDidChangeConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                rtc::PeerConnectionState) override {}
    void peerConnectionShouldNegotiate(const std::shared_ptr<rtc::PeerConnection>&) override {}
    void peerConnectionDidChangeIceConnectionState(const std::shared_ptr<rtc::PeerConnection>&,
                                                   rtc::IceConnectionState) override {}
    void peerConnectionDidChangeIceGatheringState(const std::shared_ptr<rtc::PeerConnection>&,
                                                  rtc::IceGatheringState) override {}
    void peerConnectionDidRemoveIceCandidates(const std::shared_ptr<rtc::PeerConnection>&,
                                              std::vector<rtc::IceCandidate>) override {}

private:
    const std::function<void(rtc::IceCandidate)> sendCandidate_;
    std::mutex mutex_;
    std::shared_ptr<rtc::PeerConnection> connection_;
    bool remoteApplied_ = false;
    std::vector<rtc::IceCandidate> early_;
    std::condition_variable channelArrived_;
    std::shared_ptr<rtc::RtcDataChannel> receivedChannel_;
};

}  // namespace quorvane::testing
