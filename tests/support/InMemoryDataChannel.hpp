#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "quorvane/DispatchQueue.hpp"
#include "transport/DataChannel.hpp"

namespace quorvane::testing {

/// What happens to frames on their way from one end of an in-memory pair to the other. Each
/// frame meets each fault independently with the given probability.
struct LinkFaults {
    double loss = 0;         ///< the frame never arrives
    double duplication = 0;  ///< the frame arrives twice
    double reordering = 0;   ///< the frame arrives `reorderDelay` seconds late, behind later frames
    double delay = 0;        ///< seconds (process clock) every frame takes to arrive
    double reorderDelay = 0.1;
};

/// One end of a pair of data channels joined in memory. Both ends start connecting; open()
/// opens both, close() on either end closes both. Every report reaches the observer on the end's
/// own callback queue, in order. A sent frame counts in the sender's buffered amount until its
/// transmission runs on the sender's callback queue; then it travels to the peer through the
/// sender's faults, its delays running on the process clock.
class InMemoryDataChannel final : public DataChannel, public std::enable_shared_from_this<InMemoryDataChannel> {
public:
    using Pointer = std::shared_ptr<InMemoryDataChannel>;

    /// Two joined ends; `seed` makes the faults of each direction repeatable.
    static std::pair<Pointer, Pointer> makePair(std::uint32_t seed = 1);

    DataChannelState state() const override;
    std::uint64_t bufferedAmount() const override;
    bool send(std::span<const std::uint8_t> data, bool binary) override;
    void close() override;
    void setObserver(std::weak_ptr<DataChannelObserver> observer) override;

    /// Opens both ends; each reports the open state.
    void open();
    /// Faults met by the frames this end sends.
    void setFaults(LinkFaults faults);
    /// Adds `amount` bytes to the buffered amount as a stalled transport would (0 takes it away),
    /// and reports the change unless `report` is false.
    void holdBufferedAmount(std::uint64_t amount, bool report = true);
    /// While set, send() refuses every frame.
    void refuseWrites(bool refuse);
    /// While set, frames that send() accepts stay in the buffered amount, as on a link slower
    /// than the writer; once cleared, they are transmitted in order.
    void holdTransmission(bool hold);
    /// Carries at most `bytesPerSecond` bytes a second from now on (0: no limit): each frame leaves
    /// once the link has carried the frames before it, on the process clock, and counts in the
    /// buffered amount until then.
    void setRate(double bytesPerSecond);
    /// The observer set last, while it lives.
    std::shared_ptr<DataChannelObserver> observer() const;

    /// Frames accepted by send().
    std::uint64_t framesSent() const;
    /// Frames handed to this end's observer.
    std::uint64_t framesReceived() const;
    /// From now on, keep a copy of every frame that send() accepts.
    void recordSentFrames();
    /// The copies kept since recordSentFrames(), in order.
    std::vector<std::vector<std::uint8_t>> sentFrames() const;
    const DispatchQueuePtr& callbackQueue() const { return callbackQueue_; }

private:
    explicit InMemoryDataChannel(std::uint32_t seed);

    struct Frame {
        std::vector<std::uint8_t> data;
        bool binary;
    };

    /// Sets the state and reports it on the callback queue.
    void setState(DataChannelState state);
    void notifyState(DataChannelState state);
    void transmit(Frame frame);
    void arrive(Frame frame);
    void reportBufferedAmount(std::uint64_t previous);
    /// Uniform in [0, 1).
    double draw();

    const DispatchQueuePtr callbackQueue_;

    mutable std::mutex mutex_;
    std::weak_ptr<InMemoryDataChannel> peer_;
    std::weak_ptr<DataChannelObserver> observer_;
    DataChannelState state_ = DataChannelState::connecting;
    std::uint64_t buffered_ = 0;
    std::uint64_t held_ = 0;
    bool refuse_ = false;
    bool holdTransmission_ = false;
    std::vector<Frame> heldFrames_;
    double rate_ = 0;
    double linkFreeAt_ = 0;  // when the link has carried every frame sent so far (process clock)
    LinkFaults faults_;
    std::mt19937 random_;
    std::uint64_t framesSent_ = 0;
    std::uint64_t framesReceived_ = 0;
    bool recording_ = false;
    std::vector<std::vector<std::uint8_t>> sentFrames_;
};

}  // namespace quorvane::testing
