#include "support/PeerSide.hpp"

namespace quorvane::testing {

PeerSide::PeerSide(std::function<void(rtc::IceCandidate)> sendCandidate) : sendCandidate_(std::move(sendCandidate)) {}

std::shared_ptr<rtc::PeerConnection> PeerSide::connection() {
    std::lock_guard lock(mutex_);
    return connection_;
}

void PeerSide::setConnection(std::shared_ptr<rtc::PeerConnection> connection) {
    std::unique_lock lock(mutex_);
    std::swap(connection_, connection);
    lock.unlock();
}

void PeerSide::addRemoteCandidate(rtc::IceCandidate candidate) {
    std::shared_ptr<rtc::PeerConnection> target;
    {
        std::lock_guard lock(mutex_);
        if (!remoteApplied_) {
            early_.push_back(std::move(candidate));
            return;
        }
        target = connection_;
    }
    if (target) target->addIceCandidate(candidate);
}

void PeerSide::remoteDescriptionApplied() {
    std::vector<rtc::IceCandidate> early;
    auto target = connection();
    {
        std::lock_guard lock(mutex_);
        remoteApplied_ = true;
        early.swap(early_);
    }
    for (const auto& candidate : early) target->addIceCandidate(candidate);
}

std::shared_ptr<rtc::RtcDataChannel> PeerSide::waitForChannel(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    channelArrived_.wait_until(lock, deadline, [this] { return receivedChannel_ != nullptr; });
    return std::move(receivedChannel_);
}

void PeerSide::peerConnectionDidGenerateIceCandidate(const std::shared_ptr<rtc::PeerConnection>&,
                                                     rtc::IceCandidate candidate) {
    sendCandidate_(std::move(candidate));
}

void PeerSide::peerConnectionDidOpenDataChannel(const std::shared_ptr<rtc::PeerConnection>&,
                                                std::shared_ptr<rtc::RtcDataChannel> channel) {
    std::lock_guard lock(mutex_);
    receivedChannel_ = std::move(channel);
    channelArrived_.notify_all();
}

}  // namespace quorvane::testing
