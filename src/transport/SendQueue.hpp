#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "transport/DataChannelWrapper.hpp"

namespace quorvane {

/// The adapter's outgoing frames: three first-in, first-out lists in priority order, written one
/// frame at a time through the current DataChannelWrapper once the channel is open. Control
/// frames the channel takes at once go out in the same turn of the owner's queue; a frame of a
/// message, or one that has to wait (for the connection, or at the wrapper's gate), holds the next
/// back until it settles.
///
/// A frame waits until the channel has reported open (didConnect). A didDisconnect fails the one
/// frame waiting for the connection at that moment with WebRTCError::connectionReset; the others
/// stay queued for the next didConnect. A new channel handed over while one is attached counts as
/// not yet open until it reports open itself. A frame whose write fails is dropped; the queue
/// retries nothing. Every operation may be called from any thread; the work runs on the owner's
/// queue.
///
/// Control frames wait within a fixed bound: while more than maxWaitingControlFrames wait, the
/// oldest droppable one is dropped unwritten, its promise rejected with FrameDropped.
class SendQueue : public std::enable_shared_from_this<SendQueue> {
public:
    using Frame = std::vector<std::uint8_t>;
    /// Makes a frame when its turn to be written comes; an empty frame is not written (its
    /// promise is fulfilled), for a frame that is no longer wanted.
    using FrameSource = std::function<Frame()>;

    static constexpr std::size_t maxWaitingControlFrames = 1024;

    /// The error of a control frame dropped unwritten.
    class FrameDropped : public std::runtime_error {
    public:
        FrameDropped() : std::runtime_error("Dropped unwritten: too many control frames waiting") {}
    };
    static bool isDropped(const std::exception_ptr& error);

    /// What a frame is, for the bound on waiting control frames.
    enum class Kind {
        message,    ///< a frame of a message, also one sent again: neither counted nor dropped
        control,    ///< a control frame that must go out
        droppable,  ///< a control frame the peer can do without
    };

    /// A frame (made when written), the resolver of the promise its enqueuer holds, and what its
    /// enqueuer wants to hear once the channel has passed the frame on.
    struct Item {
        Resolver<void> seal;
        FrameSource chunk;
        std::function<void()> passedOn;
        Kind kind = Kind::message;
    };

    /// The three lists, highest priority first. Items go in and out through push() and the
    /// removals, which count the control frames waiting.
    class Queues {
    public:
        /// Control frames and frames the peer asked for again.
        std::deque<Item> protocolMessages;
        /// The frames of outgoing messages.
        std::deque<Item> singleChunks;
        /// Frames that go out only when the other two lists are empty.
        std::deque<Item> multiChunks;

        void push(Item item, bool priority, bool singleChunk);
        std::size_t count() const;
        std::size_t waitingControlFrames() const { return controlFrames_; }
        /// Takes out the first item of the highest list that has one: the next frame to write.
        std::optional<Item> removeFirst();
        /// Takes out the oldest droppable control frame, if one waits.
        std::optional<Item> removeOldestDroppable();

    private:
        std::size_t controlFrames_ = 0;
    };

    explicit SendQueue(DispatchQueuePtr dispatchQueue);

    /// Frames are written through `dataChannel` from now on, once it has reported open: after a
    /// previous channel had opened, the queue waits for didConnect again (a frame waiting for the
    /// connection keeps waiting). The previous wrapper is released.
    void set(std::shared_ptr<DataChannelWrapper> dataChannel);
    /// The channel is open: waiting frames go out.
    void didConnect();
    /// The channel is gone: the frame waiting for the connection fails, the others wait for the
    /// next didConnect.
    void didDisconnect();
    /// Queues one frame. Fulfilled once the channel has taken it; rejected with the error of the
    /// write or of the wait for the connection. Once the channel has taken the frame, `passedOn`
    /// (if given) runs on the owner's queue when the channel has passed it on or gone away
    /// (DataChannelWrapper::sendData).
    Promise<void> enqueue(FrameSource chunk, bool priority = false, bool singleChunk = true,
                          std::function<void()> passedOn = {});
    /// As above, for a frame made already.
    Promise<void> enqueue(Frame chunk, bool priority = false, bool singleChunk = true);
    /// For good: every frame not yet taken by the channel, and every frame queued later, is
    /// rejected with WebRTCError::channelClosed.
    void shutDown();
    /// Queues a control frame, made when its turn comes, with the priority frames; a droppable one
    /// may be dropped unwritten (above).
    Promise<void> enqueueControl(FrameSource frame, bool droppable);

private:
    void push(Item item, bool priority, bool singleChunk);
    /// Sends the next frame unless one is in flight.
    void run();
    /// Writes one frame once the channel is open.
    Promise<void> send(Item& item);
    /// Hands the frame to the current wrapper.
    Promise<void> write(Frame data, std::function<void()> passedOn);

    const DispatchQueuePtr dispatchQueue_;
    // On dispatchQueue_ only.
    std::shared_ptr<DataChannelWrapper> dataChannel_;
    PendingPromise<void> connected_;
    Queues queues_;
    bool inFlight_ = false;  // one frame at a time: taken out of its list, not yet settled
    bool shutDown_ = false;
};

}  // namespace quorvane
