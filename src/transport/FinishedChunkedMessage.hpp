#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/MessageFrameView.hpp"
#include "transport/ChunkHelper.hpp"
#include "transport/SingleChunk.hpp"

namespace quorvane {

/// The record of an incoming multi-frame message that is finished (delivered, or refused because
/// the reassembly limits were reached), kept for a while so that its late frames are dropped
/// unanswered instead of opening a new assembler, which would deliver the message again or end in
/// a failure report. A late frame is not acknowledged: the sender of a multi-frame message never
/// sends one on purpose, and an acknowledgement could answer a new message under the same id.
///
/// A frame of a delivered message is a late copy when it announces the same chunk count and
/// carries the bytes delivered at its position; a frame of a refused message when it announces
/// the same chunk count. Any other frame under the id belongs to a new message that reuses it, and
/// the record ends. Every late frame keeps the record alive a further `retentionTimeout`.
class FinishedChunkedMessage : public ChunkHelper {
public:
    static constexpr double retentionTimeout = SingleChunk::retentionTimeout;

    /// `message`: the delivered bytes, which the sender cut into chunks of 15360 bytes.
    static std::shared_ptr<FinishedChunkedMessage> delivered(std::uint16_t totalChunks,
                                                             std::span<const std::uint8_t> message);
    static std::shared_ptr<FinishedChunkedMessage> refused(std::uint16_t totalChunks);

    /// True when `chunk` is a late frame of this message.
    bool matches(const ChunkedMessageDataView& chunk) const;

private:
    FinishedChunkedMessage(std::uint16_t totalChunks, bool delivered);

    std::uint16_t totalChunks_;
    bool delivered_;
    std::vector<std::uint64_t> chunkDigests_;  // by position, of a delivered message
};

}  // namespace quorvane
