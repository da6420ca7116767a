#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
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
/// about once a second while the channel is open (skipped while the previous one still waits at
/// the gate), and reports when nothing has arrived for five seconds, counted from when the last
/// buffer was heard. It knows nothing of the frames it carries.
///
/// The time-out is judged on three things: what the peer last heard of this side (a write the
/// channel took, or a fall of the buffered amount: all it hears while a slow link drains a full
/// buffer and the gate holds writes back), what this side last heard of the peer, and whether this
/// process was held up (its heartbeat tick ran more than a second late: stopped, say). The first
/// thing that happens on waking judges the hold-up before it counts: when the time-out fell due
/// meanwhile and the peer had heard nothing of this side for five seconds, the peer has timed out
/// too, and the time-out is reported at once, whatever arrives or drains from the buffers then;
/// otherwise what the peer sent meanwhile keeps the channel, with a second after waking to arrive.
/// When the peer closes the channel, the five seconds count from the last buffer heard at least a
/// second before the close: what arrived after may have waited out a hold-up of this process.
///
/// Writes leave in the order of their sendData() calls. The gate closes when the channel buffers
/// about half a second of what it passes on: the larger of 32768 bytes and half the bytes it
/// passed on in the last second, at most 10485760 (seen in a buffered-amount report or right
/// before a write), and opens when 16384 or fewer are buffered; so a write behind the buffer
/// waits about half a second on any link of 64 KiB/s or more, and a little over a second on a
/// link of 50 kB/s. Once the channel is closing or closed, or close() or detach()
/// was called, the gate stays open, so that no write waits for good: each goes to the channel,
/// which takes or refuses it.
///
/// A writer may also learn when the channel has passed a buffer on: when its buffered amount has
/// fallen past that buffer, so that the buffer no longer waits behind others in the channel.
class DataChannelWrapper final : public DataChannelObserver, public std::enable_shared_from_this<DataChannelWrapper> {
public:
    /// The gate closes at a share of the bytes passed on in the last second, within these bounds.
    static constexpr std::uint64_t gateCloseAmount = 10485760;
    static constexpr std::uint64_t gateCloseFloor = 32768;
    /// The gate closes at this share of what passed on in the last second.
    static constexpr double gateCloseShare = 0.5;
    static constexpr std::uint64_t gateOpenAmount = 16384;
    static constexpr double heartbeatTimeout = 5.0;
    static constexpr double heartbeatInterval = 1.0;

    /// Wraps `dataChannel`. `dispatchQueue` is the owner's serial queue: writes, timers and the
    /// time-out report run there. Nothing starts until attach() and then the channel's report of
    /// the open state.
    static std::shared_ptr<DataChannelWrapper> create(std::shared_ptr<DataChannel> dataChannel,
                                                      std::shared_ptr<ZephLogger> logger, DispatchQueuePtr dispatchQueue,
                                                      std::weak_ptr<QVWebRtcDataChannelDelegate> delegate);
    ~DataChannelWrapper() override;
    DataChannelWrapper(const DataChannelWrapper&) = delete;
    DataChannelWrapper& operator=(const DataChannelWrapper&) = delete;

    /// Becomes the channel's observer: its reports begin, possibly before this returns. May wait
    /// for the channel's own thread, so call it holding no lock that a report takes.
    void attach();
    /// The wrapped channel's current state.
    DataChannelState readyState() const;
    /// Asks the channel to close, then detach().
    void close();
    /// The owner writes no more through this wrapper: the receive time-out stops, the heartbeat
    /// loop ends at its next tick, writes waiting at the gate go on to the channel, and every
    /// passed-on report still due is made at once. The channel is left as it is.
    void detach();
    /// Writes one binary buffer. Fulfilled once the channel has taken it, rejected with
    /// WebRTCError::failedToSendData when the channel refuses it. When the channel has taken it,
    /// `passedOn` (if given) runs on the owner's queue once the channel has passed the buffer on,
    /// or once the channel is closing or closed, or the wrapper is detached or released.
    Promise<void> sendData(std::vector<std::uint8_t> buffer, std::function<void()> passedOn = {});

    void dataChannelDidChangeState(DataChannelState state) override;
    void dataChannelDidReceive(std::vector<std::uint8_t> data, bool binary) override;
    void dataChannelDidChangeBufferedAmount(std::uint64_t previousAmount) override;

private:
    DataChannelWrapper(std::shared_ptr<DataChannel> dataChannel, std::shared_ptr<ZephLogger> logger,
                       DispatchQueuePtr dispatchQueue, std::weak_ptr<QVWebRtcDataChannelDelegate> delegate);

    /// A buffer was heard: re-arms the receive time-out from that moment.
    void checkForHeartbeat();
    /// Arms the receive time-out to fall due at `deadline` (monotonic seconds; at once if past).
    void armReceiveTimeout(double deadline);
    /// The receive time-out ran: reported, unless the channel is open and this process woke less
    /// than a heartbeat interval before it fell due (what the peer sent meanwhile gets that long).
    void receiveTimeoutFellDue();
    /// Called first by everything that happens, with its time `at`. When the heartbeat tick was
    /// more than an interval overdue at `at`, this process has just woken from a hold-up: judged
    /// once, it reports the time-out (true) when that fell due meanwhile and the peer had heard
    /// nothing of this side for as long, since the peer has timed out too.
    bool judgeHoldUp(double at);
    /// Notes that the peer hears this side at `sent`: a write the channel took, or the buffered
    /// amount falling.
    void noteSent(double sent);
    /// Logs and reports the receive time-out; it is re-armed by the next buffer heard.
    void heartbeatTimedOut();
    /// The channel closed without this side closing it: the time-out counts from the last buffer
    /// heard at least one heartbeat interval before now, reported at once when that is past.
    void closedUnasked();
    /// Starts the next heartbeat tick.
    void sendHeartbeat();
    /// Starts the next heartbeat tick from now, on dispatchQueue_: the tick that ran arms the next
    /// one before anything else runs, so that the tick's deadline and its timer's are one time.
    void armHeartbeatTick();
    void heartbeatTick();

    /// A buffer waiting to pass the gate, and what its writer wants to hear.
    struct Write {
        std::vector<std::uint8_t> buffer;
        Resolver<void> resolver;
        std::function<void()> passedOn;
    };
    /// A writer waiting for the channel to pass its buffer on.
    struct PassedOnWait {
        std::uint64_t written;  // bytesWritten_ once the buffer was taken
        std::function<void()> passedOn;
    };

    // Write steps, on dispatchQueue_ only.
    void passGate(Write pending);
    void write(Write pending);

    // Gate steps, on dispatchQueue_ only.
    /// Notes what the channel has passed on so far; the buffered amount that closes the gate.
    std::uint64_t closeAmount();
    void bufferedAmountChanged(std::uint64_t amount);
    void openGate();
    void closeGate();
    /// Opens the gate for good and reports every buffer passed on: the channel is going away, or
    /// the owner no longer writes through it.
    void releaseGate();
    /// Runs the passed-on reports that are due.
    void reportPassedOn();

    ClassLogger log_;
    const std::shared_ptr<DataChannel> dataChannel_;
    const DispatchQueuePtr dispatchQueue_;
    const std::weak_ptr<QVWebRtcDataChannelDelegate> qvDelegate_;

    // On dispatchQueue_ only. The gate lives on the queue of the writes: a write costs no hop to
    // another thread and back.
    std::optional<PendingGuarantee<void>> waitForBuffer_;  // present: the gate is closed
    bool gateReleased_ = false;
    std::size_t waitingWrites_ = 0;  // writes that passed the gate's check and are not written yet
    std::uint64_t bytesWritten_ = 0;  // taken by the channel, in all
    std::deque<PassedOnWait> passedOnWaits_;  // in the order of their writes
    /// Bytes passed on in all over the last second, a sample every 10 ms at most (holding the
    /// latest count of its 10 ms), and the count of the last sample dropped from it.
    struct PassedSample {
        double time;  // monotonic seconds
        std::uint64_t passed;
    };
    std::deque<PassedSample> passedSamples_;
    std::uint64_t passedSecondAgo_ = 0;
    // What the time-out is judged on, in monotonic seconds.
    std::unique_ptr<BackgroundTimer> heartbeatTimer_;  // the armed receive time-out; none once reported
    double heartbeatDeadline_ = 0;                     // when heartbeatTimer_ falls due
    double peerHeard_ = 0;                             // the peer last heard this side, or the open
    /// When this side heard the buffers of the last heartbeat interval (the channel's opening
    /// counts), and the latest one before them, oldest first.
    std::deque<double> heard_;
    // When the heartbeat tick falls due (none while it is not armed), and when this process last
    // woke from a hold-up, judged by judgeHoldUp().
    double tickDeadline_ = std::numeric_limits<double>::infinity();
    double wokeAt_ = -std::numeric_limits<double>::infinity();
    std::unique_ptr<BackgroundTimer> sendHeartbeatTimer_;
    bool heartbeatWaiting_ = false;  // a heartbeat written and not yet taken by the channel
    bool detached_ = false;
};

}  // namespace quorvane
