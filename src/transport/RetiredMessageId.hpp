#pragma once

#include "transport/ChunkAssembler.hpp"
#include "transport/ChunkCache.hpp"
#include "transport/ChunkHelper.hpp"
#include "transport/FinishedChunkedMessage.hpp"

namespace quorvane {

/// The id of a multi-frame message given up before the peer acknowledged it, kept out of
/// rotation while the peer may still hold a record of that message: its assembler, asking for the
/// missing frames four times, then the record of the finished message. A new message under the
/// id meanwhile could have its frames joined with the old message's there, or dropped as late
/// frames of it.
///
/// Its time counts as the peer's records count theirs: it stands still while no channel is
/// open and starts again whole when the next one is attached. The margin covers the peer
/// attaching that channel later than this side.
class RetiredMessageId : public ChunkHelper {
public:
    static constexpr double peerAttachMargin = 30.0;
    static constexpr double retirement =
        (ChunkAssembler::maxRetries + 1) * (ChunkAssembler::assemblyTimeout + ChunkCache<ChunkAssembler>::sweepInterval) +
        FinishedChunkedMessage::retentionTimeout + ChunkCache<FinishedChunkedMessage>::sweepInterval + peerAttachMargin;

    RetiredMessageId() : ChunkHelper(retirement) {}
};

}  // namespace quorvane
