#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "signaling/SignalClientDelegate.hpp"

namespace quorvane::testing {

/// Remembers every signal a SignalClient reports, in arrival order, as "offer <sdp>",
/// "answer <sdp>", "candidate <line> <index> <mid>" (mid "-" when absent), "disconnect" and
/// "rejoined".
class RecordingSignalDelegate : public SignalClientDelegate {
public:
    void signalClientDidReceiveOffer(const std::string& sdp) override { record("offer " + sdp); }
    void signalClientDidReceiveAnswer(const std::string& sdp) override { record("answer " + sdp); }
    void signalClientDidReceiveCandidate(const SignalIceCandidate& candidate) override {
        record("candidate " + candidate.candidate + " " + std::to_string(candidate.sdpMLineIndex) + " " +
               candidate.sdpMid.value_or("-"));
    }
    void signalClientDidReceiveDisconnect() override { record("disconnect"); }
    void signalClientPeerDidRejoin() override { record("rejoined"); }

    std::vector<std::string> signals() const {
        std::lock_guard lock(mutex_);
        return signals_;
    }

private:
    void record(std::string signal) {
        std::lock_guard lock(mutex_);
        signals_.push_back(std::move(signal));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> signals_;
};

}  // namespace quorvane::testing
