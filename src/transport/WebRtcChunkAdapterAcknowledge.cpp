// WebRtcChunkAdapter: what the receiver writes back: acknowledgements, retry requests, failure frames.

#include "transport/WebRtcChunkAdapterSupport.hpp"

#include "formats/MessageFrameWriter.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

void WebRtcChunkAdapter::unchunkerCompletion(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id,
                                             std::uint16_t category) {
    const auto completion = assembler->completion();
    const std::weak_ptr<ChunkAssembler> weakAssembler = assembler;
    completion.done(
        [weak = weak_from_this(), weakAssembler, id] {
            auto self = weak.lock();
            auto assembler = weakAssembler.lock();
            if (self && assembler) self->unchunkerDelivered(assembler, id);
        },
        dispatchQueue_);
    completion.catchError(
        [weak = weak_from_this(), weakAssembler, id, category](const std::exception_ptr& error) {
            auto self = weak.lock();
            auto assembler = weakAssembler.lock();
            if (self && assembler) self->unchunkerFailed(assembler, id, category, error);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::unchunkerDelivered(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id) {
    if (!incoming(id, *assembler)) return;
    if (auto delegate = this->delegate()) delegate->dataChannelDidReceive(assembler->takeMessage(), id);
    unchunkers_.removeValue(id);
    forgetIncoming(id);
    finishedChunked_.set(id, std::make_shared<FinishedChunkedMessage>(assembler->totalChunks(), assembler->chunkDigests()));
    // Never dropped: a multi-frame message is not sent again, so its sender would report it
    // failed although it arrived.
    acknowledge(id, assembler->buildAck(), true, "Failed to send message ack for chunked message: ");
}

void WebRtcChunkAdapter::unchunkerFailed(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id,
                                         std::uint16_t category, const std::exception_ptr& error) {
    if (!incoming(id, *assembler)) return;
    log_.error(receivedMessageOperation, "Failed to parse chunked message: " + errorDescription(error));
    std::vector<std::uint8_t> frame;
    std::string kind;
    if (assembler->shouldRetry()) {
        frame = assembler->buildRetry();
        kind = "retry request";
        unchunkers_.set(id, assembler);
        unchunkerCompletion(assembler, id, category);
    } else {
        frame = assembler->buildError();
        kind = "error response";
        unchunkers_.removeValue(id);
        forgetIncoming(id);
        finishedChunked_.set(id, std::make_shared<FinishedChunkedMessage>(assembler->totalChunks(), std::vector<std::uint64_t>{}));
        if (auto delegate = this->delegate()) delegate->dataChannelFailedToReceiveMessage(id, category);
    }
    auto written = enqueueControl(std::move(frame), false, id);
    written.done([log = log_, kind] { log.debug(receivedMessageOperation, "Sent " + kind + " for chunked message"); },
                 dispatchQueue_);
    written.catchError(
        [log = log_, kind](const std::exception_ptr&) {
            log.error(receivedMessageOperation, "Failed to create " + kind + " for chunked message");
        },
        dispatchQueue_);
}

Promise<void> WebRtcChunkAdapter::enqueueControl(std::vector<std::uint8_t> frame, bool droppable,
                                                 std::optional<std::uint16_t> chunkedId) {
    if (!chunkedId) {
        return queue_->enqueueControl([frame = std::move(frame)]() mutable { return std::move(frame); }, droppable);
    }
    // Made when its turn comes, on this queue: a channel attached meanwhile may come from a peer
    // that started again, whose new message under the id this frame would settle.
    return queue_->enqueueControl(
        [weak = weak_from_this(), channel = channelsAttached_, id = *chunkedId, frame = std::move(frame)]() mutable {
            auto self = weak.lock();
            if (self && self->channelsAttached_ != channel) {
                self->log_.debug(receivedMessageOperation, "Dropped a control frame for chunked message " +
                                                               std::to_string(id) + " of an earlier channel");
                return SendQueue::Frame{};
            }
            return std::move(frame);
        },
        droppable);
}

void WebRtcChunkAdapter::acknowledge(std::uint16_t id, std::vector<std::uint8_t> frame, bool chunked,
                                     std::string failureText) {
    // The acknowledgement of a single-frame message waiting answers its repeats as well. A
    // multi-frame message is acknowledged once, when it is delivered, and never leans on one
    // waiting under its id: that one may stay with an earlier channel, unwritten.
    const bool single = !chunked;
    if (single && !acknowledgementsWaiting_.insert(id).second) return;
    // A single-frame message's may be dropped past the bound: the sender writes it again.
    auto written = enqueueControl(std::move(frame), single, chunked ? std::optional(id) : std::nullopt);
    written.done(
        [weak = weak_from_this(), id, single] {
            if (auto self = weak.lock()) self->acknowledgementSettled(id, single, nullptr, {});
        },
        dispatchQueue_);
    written.catchError(
        [weak = weak_from_this(), id, single, failureText = std::move(failureText)](const std::exception_ptr& error) {
            if (auto self = weak.lock()) self->acknowledgementSettled(id, single, error, failureText);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::acknowledgementSettled(std::uint16_t id, bool single, const std::exception_ptr& error,
                                                const std::string& failureText) {
    if (single) acknowledgementsWaiting_.erase(id);
    if (!error) {
        droppingControlFrames_ = false;  // written: a later drop starts a new burst
    } else if (SendQueue::isDropped(error)) {
        controlFrameDropped();
    } else {
        log_.error(receivedMessageOperation, failureText + errorDescription(error));
    }
}

void WebRtcChunkAdapter::controlFrameDropped() {
    if (std::exchange(droppingControlFrames_, true)) return;
    log_.error(receivedMessageOperation,
               "More than " + std::to_string(SendQueue::maxWaitingControlFrames) +
                   " control frames wait to be written: dropping the oldest acknowledgements");
}

}  // namespace quorvane
