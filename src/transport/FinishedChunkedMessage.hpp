#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "formats/MessageFrameView.hpp"
#include "transport/ChunkHelper.hpp"
#include "transport/SingleChunk.hpp"

namespace quorvane {

/// The record of an incoming multi-frame message that is finished (delivered, given up, or
/// refused because the reassembly limits were reached), kept for a while so that its late frames
/// are dropped unanswered instead of opening a new assembler, which would deliver the message
/// again or end in a failure report. A late frame is not acknowledged: the sender of a multi-frame
/// message never sends one on purpose, and an acknowledgement could answer a new message under
/// the same id.
///
/// A frame is a late copy when it announces the message's chunk count and carries the bytes the
/// message had at its position (by digest), or when the record does not know those bytes (a
/// message given up or refused keeps none). Any other frame under the id belongs to a new message
/// that reuses it, and the record ends. Every late frame keeps the record alive a further
/// `retentionTimeout`.
class FinishedChunkedMessage : public ChunkHelper {
public:
    static constexpr double retentionTimeout = SingleChunk::retentionTimeout;

    /// `chunkDigests`: by position, the chunkDigest of each chunk of a delivered message (0 or no
    /// entry: bytes not known).
    FinishedChunkedMessage(std::uint16_t totalChunks, std::vector<std::uint64_t> chunkDigests);

    /// True when `chunk` is a late frame of this message.
    bool matches(const ChunkedMessageDataView& chunk) const;

private:
    std::uint16_t totalChunks_;
    std::vector<std::uint64_t> chunkDigests_;
};

}  // namespace quorvane
