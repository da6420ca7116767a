#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "formats/MessageFrameView.hpp"
#include "log/ClassLogger.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "transport/ChunkAdapterDelegate.hpp"
#include "transport/ChunkAssembler.hpp"
#include "transport/ChunkCache.hpp"
#include "transport/Chunker.hpp"
#include "transport/DataChannelWrapper.hpp"
#include "transport/FinishedChunkedMessage.hpp"
#include "transport/QVWebRtcDataChannelDelegate.hpp"
#include "transport/RetiredMessageId.hpp"
#include "transport/SendQueue.hpp"
#include "transport/SingleChunk.hpp"

namespace quorvane {

/// The message layer of the session's data channel. Outgoing messages get a 16-bit transport id,
/// are cut into frames and queued; each is kept until the peer acknowledges it. A single-frame
/// message is resent after a time-out; a multi-frame one never is (its missing frames are served
/// on the peer's retry requests) and is reported failed once it times out or the peer gives it
/// up; its id is then not handed out again until the peer's records of it have surely expired. A
/// message's time-out runs from the moment the channel has passed its last frame on, not while its
/// frames wait in the queue or in the channel's buffer. Incoming frames are verified, multi-frame
/// messages are reassembled (asking for missing frames; a frame of another message under the same
/// id, by its chunk count or its bytes, never joins them), every whole message is delivered once to
/// the delegate and then acknowledged, and repeats of a single-frame message are
/// acknowledged without being delivered again; late frames of a finished multi-frame message are
/// dropped unanswered. Resends, control frames and asked-for frames go ahead of the frames of
/// messages waiting in the queue. At most one acknowledgement per single-frame message id waits to
/// be written (it answers the repeats as well), and past a fixed bound of waiting control frames
/// the oldest acknowledgements of single-frame messages are dropped (the peer's resend recovers
/// them); the acknowledgement of a multi-frame message is never dropped, since nothing would
/// recover it.
///
/// The ids, the caches (but for the messages being reassembled) and the queue survive channel
/// changes. When a channel goes away during the session, every multi-frame message that was in it
/// is reported failed at once (the peer keeps no record of it, so it is never resent); when the
/// next channel opens, every unacknowledged single-frame message that is not waiting in the queue
/// is written again at once, ahead of new messages (the peer's record drops a copy it delivered
/// already). When a channel is attached, every multi-frame message still being reassembled is
/// reported failed to receive, without a failure frame: no frame of the new channel joins it,
/// since the new channel may come from a peer that started again, its ids with it. For the same
/// reason, what this side queued about an incoming multi-frame message (its acknowledgement, a
/// retry request, the failure frame) goes out only on the channel the message came on: on a later
/// one it could settle a restarted peer's new message under the id. A peer that stayed the same
/// loses nothing by it: its sender gave that message up with the channel. Everything
/// runs on the adapter's serial queue "WebRtcChunkAdapter", except the channel's state reports,
/// which reach the delegate on the channel's callback thread.
class WebRtcChunkAdapter final : public QVWebRtcDataChannelDelegate,
                                 public std::enable_shared_from_this<WebRtcChunkAdapter> {
public:
    /// Limits on incoming multi-frame messages being reassembled at once. A new message is
    /// admitted only while the room all admitted messages may still need (their chunk counts
    /// times 15360 bytes) stays within the byte limit, so that each admitted message can finish.
    /// A new message beyond either limit is answered with the failure frame and reported as
    /// failed to receive.
    struct Settings {
        std::size_t maxReassemblingMessages = 64;
        std::uint64_t maxReassemblingBytes = 1'181'116'006;  // 1.1 GiB
    };

    /// Must be owned by a std::shared_ptr.
    explicit WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger);
    WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger, Settings settings);
    ~WebRtcChunkAdapter() override;
    WebRtcChunkAdapter(const WebRtcChunkAdapter&) = delete;
    WebRtcChunkAdapter& operator=(const WebRtcChunkAdapter&) = delete;

    void setDelegate(std::weak_ptr<ChunkAdapterDelegate> delegate);

    /// Attaches a new data channel; the previous wrapper is dropped without being closed, and its
    /// write waiting at the gate goes on. Frames wait for the new channel's report that it is
    /// open. Expiry of every cached message starts again from now; a message being reassembled
    /// is given up, before any frame of the new channel is taken in. Takes no lock while the
    /// channel registers its observer.
    void set(std::shared_ptr<DataChannel> dataChannel);
    /// Detaches and closes the current channel. Queued frames and cached messages are kept for
    /// the next channel; their expiry stops meanwhile.
    void closeDataChannel();
    /// Closes the channel for good, at the end of the session: every send not settled yet, and
    /// every later sendData, is rejected at once with WebRTCError::channelClosed. Nothing more is
    /// reported: a message written whole and not yet acknowledged is not reported failed (whoever
    /// waits for its answer ends by its own time-out). Releasing the adapter does the same.
    void shutDown();

    /// Sends one message. Fulfilled once every frame of it is written to the channel, or once the
    /// peer acknowledges it (not only then: a message the peer never acknowledges is reported
    /// through the delegate). Rejected with WebRTCError::failedToSendData when the message is too
    /// large or every id is held by an unacknowledged or retired message (at once, at no cost to
    /// the rest of the adapter's work); with the error it was
    /// given up with when the delegate hears dataChannelFailedToSend for it (a multi-frame message
    /// whose frame could not be written, or that was on a channel that went away, or that timed
    /// out); with WebRTCError::channelClosed at the session's end. A single-frame message whose
    /// write fails is written again (on the next channel, or after its time-out), and its send
    /// waits for that. With `retryId`, sends the frames of the unacknowledged message under that id
    /// again, settled as the message's own send, or fulfilled at once when there is none.
    Promise<void> sendData(std::vector<std::uint8_t> data, std::uint16_t category,
                           std::optional<std::uint16_t> retryId = std::nullopt);

    /// The adapter's serial queue.
    const DispatchQueuePtr& dispatchQueue() const { return dispatchQueue_; }

    void dataChannelDidChange(DataChannelState state, DataChannelWrapper& channel) override;
    void dataChannelDidReceive(std::vector<std::uint8_t> data) override;
    void dataChannelFiredHeartbeatTimeout(DataChannelWrapper& channel) override;

private:
    /// An outgoing message from its send until it is acknowledged or given up.
    struct Outgoing {
        std::shared_ptr<Chunker> chunker;
        /// The sends waiting to hear how the message went: settled once, together.
        std::vector<Resolver<void>> sends;
        /// Frames queued, or taken by the channel and not yet passed on. While any is, the
        /// message does not expire: its time-out runs from the moment the channel passed the last
        /// of them on (or refused it).
        std::size_t framesInChannel = 0;
        /// Positions a retry request asked for whose frame is queued and not yet written: a
        /// repeated request does not queue them again.
        std::set<std::uint16_t> askedPositions;
        /// A frame of it was handed to the current channel.
        bool onChannel = false;
        /// A single-frame message that was on a channel that went away: written again when the
        /// next one opens.
        bool resendOnOpen = false;
    };
    /// An incoming multi-frame message from its first frame until it is delivered or given up.
    struct Incoming {
        std::shared_ptr<ChunkAssembler> assembler;
        std::uint64_t bytesReserved = 0;  // the room it may need: its chunk count times 15360
    };

    std::shared_ptr<ChunkAdapterDelegate> delegate() const;
    /// Runs `step` on dispatchQueue_ while the adapter lives.
    void onQueue(void (WebRtcChunkAdapter::*step)());

    // Send side, on dispatchQueue_.
    void sendNew(std::vector<std::uint8_t> data, std::uint16_t category, const Resolver<void>& resolver);
    /// Sends the frames of the message under `id` again; `resolver` then waits as a send of it.
    /// With `expected`, only when that chunker is still the one cached under the id.
    void resend(std::uint16_t id, const std::shared_ptr<Chunker>& expected, std::optional<Resolver<void>> resolver);
    /// Queues every frame of the message; once all are written its sends are fulfilled.
    void writeMessage(const std::shared_ptr<Chunker>& chunker, bool priority);
    /// Fulfils (no error) or rejects every send in `sends`, and empties it.
    static void settle(std::vector<Resolver<void>>& sends, const std::exception_ptr& error);
    /// The session ended: every send not settled yet is rejected with channelClosed.
    void endOutgoing();
    /// The next id that no outgoing message holds and that is not retired, or nothing when all are
    /// taken.
    std::optional<std::uint16_t> nextMessageId();
    /// Queues the frames of `chunker` at `positions`; fulfilled once all are written, rejected on
    /// the first failure. With `asked`, they answer a retry request.
    Promise<void> writeFrames(const std::shared_ptr<Chunker>& chunker, const std::vector<std::uint16_t>& positions,
                              bool priority, bool asked);
    /// One of the message's frames has left the channel, or was refused.
    void frameLeftChannel(const std::shared_ptr<Chunker>& chunker);
    /// The outgoing message of `chunker` if it is still the one under its id.
    Outgoing* outgoing(const Chunker& chunker);
    void watchOutgoing(const std::shared_ptr<Chunker>& chunker);
    /// The message timed out, the peer failed it, or it cannot arrive: resent, or given up.
    void outgoingFailed(const std::shared_ptr<Chunker>& chunker, const std::exception_ptr& error);
    /// Reports the message failed and rejects its sends with `error`; once per message.
    void giveUpOutgoing(const std::shared_ptr<Chunker>& chunker, const std::exception_ptr& error);
    /// After the caches' resume: messages whose frames are still in the channel keep from expiring.
    void holdMessagesInChannel();
    /// The current channel is closing, closed or replaced: the multi-frame messages on it fail.
    void channelWentAway();
    /// A new channel opened: the single-frame messages not waiting in the queue go again.
    void channelOpened();

    // Receive side, on dispatchQueue_.
    void receive(const std::vector<std::uint8_t>& data);
    void receiveSingle(const MessageChunkView& chunk);
    void receiveChunked(const MessageChunkView& chunk);
    void receiveRetry(const MessageChunkView& chunk);
    void receiveAck(std::uint16_t id);
    void receiveFailed(std::uint16_t id);
    void startChunkedMessage(std::uint16_t id, std::uint16_t category, const ChunkedMessageDataView& first);
    /// The message being assembled under `id` cannot complete (for `reason`): it fails, unanswered.
    void abandonChunkedMessage(std::uint16_t id, const ChunkAssembler& assembler, const std::string& reason);
    /// A new channel is attached: every message being assembled fails, and what is queued about
    /// the incoming messages of earlier channels stays unwritten.
    void abandonIncoming();
    void refuseChunkedMessage(std::uint16_t id, std::uint16_t category, std::uint16_t totalChunks,
                              const std::string& reason);
    void unchunkerCompletion(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id,
                             std::uint16_t category);
    void unchunkerDelivered(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id);
    void unchunkerFailed(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id, std::uint16_t category,
                         const std::exception_ptr& error);
    /// The incoming message of `assembler` if it is still the one under `id`.
    Incoming* incoming(std::uint16_t id, const ChunkAssembler& assembler);
    void forgetIncoming(std::uint16_t id);
    /// Queues a control frame ahead of message frames; a droppable one may be dropped unwritten.
    /// With `chunkedId`, the frame speaks of the incoming multi-frame message under that id and
    /// is written only while the channel that message came on is the current one.
    Promise<void> enqueueControl(std::vector<std::uint8_t> frame, bool droppable,
                                 std::optional<std::uint16_t> chunkedId);
    /// Queues the acknowledgement of message `id`; logs `failureText` and the error when its write
    /// fails. A single-frame message's is queued unless one for the id waits already, may be
    /// dropped past the bound (its sender writes it again) and goes out on any channel; a
    /// multi-frame message's is never dropped and goes out only on the channel it came on.
    void acknowledge(std::uint16_t id, std::vector<std::uint8_t> frame, bool chunked, std::string failureText);
    /// `single`: the acknowledgement of a single-frame message, one of acknowledgementsWaiting_.
    void acknowledgementSettled(std::uint16_t id, bool single, const std::exception_ptr& error,
                                const std::string& failureText);
    /// Logs the first drop of a burst.
    void controlFrameDropped();

    ClassLogger log_;
    const Settings settings_;
    const DispatchQueuePtr dispatchQueue_;
    const std::shared_ptr<ZephLogger> logger_;

    // Guards dataChannel_ and delegate_, reached from callback threads. Never held across a call
    // that may wait for a WebRTC thread: such a thread may be in a report that takes it.
    mutable std::mutex mutex_;
    std::shared_ptr<DataChannelWrapper> dataChannel_;
    bool dataChannelOpened_ = false;  // the current channel has reported open
    std::weak_ptr<ChunkAdapterDelegate> delegate_;

    std::atomic<bool> shutDown_{false};

    // On dispatchQueue_ only.
    std::uint16_t messageId_ = 0;
    ChunkCache<Chunker> chunkers_;
    ChunkCache<ChunkAssembler> unchunkers_;
    ChunkCache<SingleChunk> singleChunks_;
    ChunkCache<FinishedChunkedMessage> finishedChunked_;
    ChunkCache<RetiredMessageId> retiredIds_;
    // Own every message in progress, also while it is out of its cache between expiry and the
    // handling of its failure; the promise handlers reach them weakly.
    std::map<std::uint16_t, Outgoing> outgoing_;
    std::map<std::uint16_t, Incoming> incoming_;
    std::uint64_t bytesReserved_ = 0;  // by every incoming message
    // Channels attached so far: what is queued about an incoming multi-frame message carries the
    // count of its channel, and is not written once another channel is attached.
    std::uint64_t channelsAttached_ = 0;
    std::set<std::uint16_t> acknowledgementsWaiting_;  // single-frame ids whose acknowledgement is queued
    bool droppingControlFrames_ = false;  // since the last control frame written

    const std::shared_ptr<SendQueue> queue_;
};

}  // namespace quorvane
