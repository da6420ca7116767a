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
    acknowledge(id, assembler->buildAck(), false, "Failed to send message ack for chunked message: ");
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
    auto written = enqueueControl(std::move(frame), false);
    written.done([log = log_, kind] { log.debug(receivedMessageOperation, "Sent " + kind + " for chunked message"); },
                 dispatchQueue_);
    written.catchError(
        [log = log_, kind](const std::exception_ptr&) {
            log.error(receivedMessageOperation, "Failed to create " + kind + " for chunked message");
        },
        dispatchQueue_);
}

Promise<void> WebRtcChunkAdapter::enqueueControl(std::vector<std::uint8_t> frame, bool droppable) {
    return queue_->enqueueControl(std::move(frame), droppable);
}

void WebRtcChunkAdapter::acknowledge(std::uint16_t id, std::vector<std::uint8_t> frame, bool droppable,
                                     std::string failureText) {
    // Acknowledgements are idempotent: the one waiting answers a repeat as well.
    if (!acknowledgementsWaiting_.insert(id).second) return;
    auto written = enqueueControl(std::move(frame), droppable);
    written.done(
        [weak = weak_from_this(), id] {
            if (auto self = weak.lock()) self->acknowledgementSettled(id, nullptr, {});
        },
        dispatchQueue_);
    written.catchError(
        [weak = weak_from_this(), id, failureText = std::move(failureText)](const std::exception_ptr& error) {
            if (auto self = weak.lock()) self->acknowledgementSettled(id, error, failureText);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::acknowledgementSettled(std::uint16_t id, const std::exception_ptr& error,
                                                const std::string& failureText) {
    acknowledgementsWaiting_.erase(id);
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
