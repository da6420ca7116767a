#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "quorvane/Promise.hpp"
#include "transport/ChunkHelper.hpp"

namespace quorvane {

/// One outgoing message from the moment the adapter takes it until the peer acknowledges it, the
/// peer reports it failed, or it expires.
///
/// At creation the message is cut into finished MessageFrame buffers: one SingleMessageData frame
/// when it has at most 15360 bytes, else ChunkedMessageData frames of 15360 bytes (the last one
/// shorter) at positions 0 up to the count less one. A message of more than 65535 chunks gets no
/// frames (chunks() is absent), so the adapter can refuse it. After each time-out the adapter may
/// send a single-frame message again, three times at most; a multi-frame message is never sent
/// again whole (its missing chunks are served on the peer's retry requests).
///
/// Used on the adapter's queue only.
class Chunker : public ChunkHelper {
public:
    using Frames = std::map<std::uint16_t, std::vector<std::uint8_t>>;

    /// Most bytes of one message: 65535 chunks of 15360 bytes.
    static constexpr std::size_t maxMessageBytes = maxChunkCount * maxChunkBytes;
    /// Time-out from creation, and from each retry decision on.
    static constexpr double initialTimeout = 90.0;
    static constexpr double retryTimeout = 30.0;
    /// Resends granted after time-outs.
    static constexpr int maxRetries = 3;

    Chunker(std::vector<std::uint8_t> data, std::uint16_t id, std::uint16_t category);

    std::uint16_t id() const { return id_; }
    std::uint16_t category() const { return category_; }
    /// The whole message as given.
    const std::vector<std::uint8_t>& data() const { return data_; }
    /// True when the message fits in one frame (at most 15360 bytes).
    bool isSingleChunk() const { return data_.size() <= maxChunkBytes; }
    /// The frames by position, built once at creation; absent when the message could not be cut.
    const std::optional<Frames>& chunks() const { return chunks_; }

    /// Decides whether a resend is granted, and counts it: sets the time-out to 30 s; when granted,
    /// completion() becomes a fresh pending promise (the old one stays as it was).
    bool shouldRetry();

    /// Fulfilled by completed(), rejected by timedOut().
    Promise<void> completion() const { return pending_.promise; }

    /// The peer acknowledged the message.
    void completed() override;
    /// Rejects completion() with WebRTCError::timeout("Sending chunked message").
    void timedOut() override;

private:
    static std::optional<Frames> chunkMessage(const std::vector<std::uint8_t>& data, std::uint16_t id,
                                              std::uint16_t category);

    std::uint16_t id_;
    std::uint16_t category_;
    std::vector<std::uint8_t> data_;
    std::optional<Frames> chunks_;
    PendingPromise<void> pending_;
    int retryAttempts_ = 0;
};

}  // namespace quorvane
