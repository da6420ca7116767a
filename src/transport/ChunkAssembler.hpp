#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "formats/MessageFrameView.hpp"
#include "log/ClassLogger.hpp"
#include "quorvane/Promise.hpp"
#include "transport/ChunkHelper.hpp"

namespace quorvane {

/// Collects the chunks of one incoming multi-frame message in any order and joins them once none
/// is missing; builds the acknowledgement, retry request and failure frames for that message.
///
/// Each chunk is written once, at position times 15360 bytes, into the buffer that becomes the
/// message: room for the whole message is reserved when the first chunk arrives, and memory is
/// taken as far as the furthest chunk received. When all have come, a buffer laid out by a sender
/// that cuts at 15360 bytes is the message as it stands; shorter chunks (another sender's choice)
/// are moved up in place.
///
/// Every number in a received frame comes from the peer, so: the chunk count is the one the first
/// chunk announced; the missing positions are a bitmap of that count (at most 8 KiB); a chunk whose
/// position is not below the count, or that carries more than 15360 bytes, is dropped with a log
/// line and never stored. A message announcing no chunks can never complete. A repeated position
/// changes nothing. A chunk that announces another chunk count, or that carries other bytes than
/// those already received at its position, is not of this message (see belongs()).
///
/// Expires 15 seconds after the last new chunk or retry request; four retry requests are allowed.
/// Used on the adapter's queue only.
class ChunkAssembler : public ChunkHelper {
public:
    static constexpr double assemblyTimeout = 15.0;
    /// Retry requests granted before the message is given up.
    static constexpr int maxRetries = 4;

    /// Opens the message with its first chunk, which it takes in at once. `logger` may be null.
    ChunkAssembler(std::uint16_t id, std::uint16_t category, const ChunkedMessageDataView& first,
                   std::shared_ptr<ZephLogger> logger);

    /// True when `chunk` may be of this message: it announces the same chunk count, and its
    /// position is missing or holds the same bytes. Any other chunk under the id belongs to
    /// another message.
    bool belongs(const ChunkedMessageDataView& chunk) const;
    /// Stores `bytes` at `position` unless that position is filled already. When that fills the
    /// last missing position, completion() is fulfilled and takeMessage() gives the whole message:
    /// the chunks in position order. The caller has checked that the chunk belongs().
    void addChunk(std::span<const std::uint8_t> bytes, std::uint16_t position);

    std::uint16_t numChunksReceived() const { return static_cast<std::uint16_t>(totalChunks_ - missingCount_); }
    std::uint16_t totalChunks() const { return totalChunks_; }
    std::uint16_t category() const { return category_; }
    /// By position, the chunkDigest of each chunk received so far; 0 where none has come.
    const std::vector<std::uint64_t>& chunkDigests() const { return digests_; }

    /// Decides whether another retry request is granted, and counts it: true four times, then
    /// false for ever.
    bool shouldRetry();

    /// Fulfilled once the message is whole, rejected by timedOut(), renewed by buildRetry().
    Promise<void> completion() const { return pending_.promise; }
    /// The whole message, moved out: empty before completion() is fulfilled and after a first call.
    std::vector<std::uint8_t> takeMessage() { return std::move(message_); }

    /// The acknowledgement frame of this message.
    std::vector<std::uint8_t> buildAck() const;
    /// The request for every missing position, in ascending order. Restarts the time-out and
    /// gives completion() a fresh pending promise.
    std::vector<std::uint8_t> buildRetry();
    /// The frame telling the sender the message was given up.
    std::vector<std::uint8_t> buildError() const;

    /// Rejects completion() with WebRTCError::timeout("Receiving chunked message").
    void timedOut() override;

private:
    /// Moves shorter chunks up behind their predecessors and hands the message over.
    void join();

    ClassLogger log_;
    std::uint16_t id_;
    std::uint16_t category_;
    std::uint16_t totalChunks_;
    std::vector<bool> missing_;  // by position, below totalChunks_
    std::size_t missingCount_;
    std::vector<std::uint8_t> message_;           // chunk p at p * 15360, as far as received; then whole
    std::map<std::uint16_t, std::size_t> short_;  // sizes of the chunks shorter than 15360
    std::vector<std::uint64_t> digests_;
    PendingPromise<void> pending_;
    int retryAttempts_ = 0;
};

}  // namespace quorvane
