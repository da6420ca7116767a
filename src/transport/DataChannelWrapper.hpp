#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "log/ClassLogger.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "transport/DataChannel.hpp"
#include "transport/QVWebRtcDataChannelDelegate.hpp"
#include "util/BackgroundTimer.hpp"

namespace quorvane {

/// Wraps the session's data channel: turns its callbacks into QVWebRtcDataChannelDelegate
/// reports, writes buffers behind a gate on the channel's buffered amount, sends a heartbeat
/// about once a second while the channel is open, and reports when nothing has arrived for five
/// seconds. It knows nothing of the frames it carries.
///
/// Writes leave in the order of their sendData() calls. The gate closes when 10485760 bytes or
/// more are buffered (seen in a buffered-amount report or right before a write) and opens when
/// 16384 or fewer are. Once the channel is closing or closed, or close() was called, the gate
/// stays open, so that no write waits for good: each fails as the channel refuses it.
class DataChannelWrapper final : public DataChannelObserver, public std::enable_shared_from_this<DataChannelWrapper> {
public:
    static constexpr std::uint64_t gateCloseAmount = 10485760;
    static constexpr std::uint64_t gateOpenAmount = 16384;
    static constexpr double heartbeatTimeout = 5.0;
    static constexpr double heartbeatInterval = 1.0;

    /// Wraps `dataChannel` and becomes its observer. `dispatchQueue` is the owner's serial queue:
    /// writes, timers and the time-out report run there. Nothing starts until the channel reports
    /// the open state.
    static std::shared_ptr<DataChannelWrapper> create(std::shared_ptr<DataChannel> dataChannel,
                                                      std::shared_ptr<ZephLogger> logger, DispatchQueuePtr dispatchQueue,
                                                      std::weak_ptr<QVWebRtcDataChannelDelegate> delegate);
    ~DataChannelWrapper() override;
    DataChannelWrapper(const DataChannelWrapper&) = delete;
    DataChannelWrapper& operator=(const DataChannelWrapper&) = delete;

    /// The wrapped channel's current state.
    DataChannelState readyState() const;
    /// Asks the channel to close and stops the receive time-out.
    void close();
    /// Writes one binary buffer. Fulfilled once the channel has taken it, rejected with
    /// WebRTCError::failedToSendData when the channel refuses it.
    Promise<void> sendData(std::vector<std::uint8_t> buffer);

    void dataChannelDidChangeState(DataChannelState state) override;
    void dataChannelDidReceive(std::vector<std::uint8_t> data, bool binary) override;
    void dataChannelDidChangeBufferedAmount(std::uint64_t previousAmount) override;

private:
    DataChannelWrapper(std::shared_ptr<DataChannel> dataChannel, std::shared_ptr<ZephLogger> logger,
                       DispatchQueuePtr dispatchQueue, std::weak_ptr<QVWebRtcDataChannelDelegate> delegate);

    /// Re-arms the receive time-out.
    void checkForHeartbeat();
    /// Starts the next heartbeat tick.
    void sendHeartbeat();
    void heartbeatTick();

    // Write steps, on dispatchQueue_ only.
    void passGate(std::vector<std::uint8_t> buffer, const Resolver<void>& resolver);
    void write(std::span<const std::uint8_t> buffer, const Resolver<void>& resolver);

    // Gate steps, on dispatchQueue_ only.
    void openGate();
    void closeGate();
    /// Opens the gate for good: the channel is going away.
    void releaseGate();

    ClassLogger log_;
    const std::shared_ptr<DataChannel> dataChannel_;
    const DispatchQueuePtr dispatchQueue_;
    const std::weak_ptr<QVWebRtcDataChannelDelegate> qvDelegate_;

    // On dispatchQueue_ only. The gate lives on the queue of the writes: a write costs no hop to
    // another thread and back.
    std::optional<PendingGuarantee<void>> waitForBuffer_;  // present: the gate is closed
    bool gateReleased_ = false;
    std::size_t waitingWrites_ = 0;  // writes that passed the gate's check and are not written yet
    std::unique_ptr<BackgroundTimer> heartbeatTimer_;
    std::unique_ptr<BackgroundTimer> sendHeartbeatTimer_;
    bool closed_ = false;
};

}  // namespace quorvane
