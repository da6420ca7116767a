#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "support/LoopbackPeerPair.hpp"
#include "transport/ChunkAdapterDelegate.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane::testing {

/// Remembers when messages arrive and lets a benchmark wait for them; optionally echoes each
/// message back through its adapter.
class ArrivalDelegate : public ChunkAdapterDelegate {
public:
    using SteadyClock = std::chrono::steady_clock;

    explicit ArrivalDelegate(std::weak_ptr<WebRtcChunkAdapter> echoThrough = {}) : echo_(std::move(echoThrough)) {}

    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t) override;
    void dataChannelFailedToSend(const std::vector<std::uint8_t>&, std::uint16_t) override { fail(); }
    void dataChannelFailedToReceiveMessage(std::uint16_t, std::uint16_t) override { fail(); }
    void dataChannelDidChange(DataChannelState) override {}
    void dataChannelWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void dataChannelFiredHeartbeatTimeout() override {}

    /// Waits until `count` messages have arrived in all; false after `timeout` or a failure.
    bool waitFor(std::uint64_t count, std::chrono::seconds timeout);
    std::uint64_t count();
    SteadyClock::time_point lastArrival();

private:
    void fail();

    const std::weak_ptr<WebRtcChunkAdapter> echo_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
    bool failed_ = false;
    SteadyClock::time_point lastArrival_;
};

/// Two chunk adapters on the channels of a loopback peer-connection pair, on the process's real
/// clock: `sender` on the offer side's channel, `receiver` on the answer side's, which echoes
/// every message back when asked to.
struct ChunkAdapterPair {
    explicit ChunkAdapterPair(bool echo);
    ~ChunkAdapterPair();
    ChunkAdapterPair(const ChunkAdapterPair&) = delete;
    ChunkAdapterPair& operator=(const ChunkAdapterPair&) = delete;

    LoopbackPeerPair pair;
    std::shared_ptr<WebRtcChunkAdapter> sender = std::make_shared<WebRtcChunkAdapter>(nullptr);
    std::shared_ptr<WebRtcChunkAdapter> receiver = std::make_shared<WebRtcChunkAdapter>(nullptr);
    std::shared_ptr<ArrivalDelegate> senderHears = std::make_shared<ArrivalDelegate>();
    std::shared_ptr<ArrivalDelegate> receiverHears;
};

}  // namespace quorvane::testing
