// WebRtcChunkAdapter: incoming frames, single-frame delivery, reassembly and the peer's answers to this side's messages.

#include "transport/WebRtcChunkAdapterSupport.hpp"

#include <set>
#include <span>
#include <utility>

#include "formats/MessageFrameWriter.hpp"

namespace quorvane {

void WebRtcChunkAdapter::dataChannelDidReceive(std::vector<std::uint8_t> data) {
    dispatchQueue_->async([self = shared_from_this(), data = std::move(data)] { self->receive(data); });
}

void WebRtcChunkAdapter::receive(const std::vector<std::uint8_t>& data) {
    const auto frame = parseMessageFrame(std::span<const std::uint8_t>(data));
    if (!frame) {
        log_.error(receiveOperation, "Dropped a received buffer of " + std::to_string(data.size()) +
                                         " bytes that is not a well-formed frame");
        return;
    }
    switch (frame->messageType()) {
        case MessageTypes::Heartbeat:
            return;
        case MessageTypes::MessageChunk:
            break;
        default:
            log_.error(receiveOperation, "Received unknown message type");
            return;
    }
    const auto chunk = frame->messageChunk();
    if (!chunk) {
        log_.error(receiveOperation, "Could not parse received message chunk");
        return;
    }
    switch (chunk->payloadType()) {
        case MessagePayload::SingleMessageData:
            return receiveSingle(*chunk);
        case MessagePayload::ChunkedMessageData:
            return receiveChunked(*chunk);
        case MessagePayload::ChunkedMessageRetry:
            return receiveRetry(*chunk);
        case MessagePayload::MessageAck:
            return receiveAck(chunk->msgid());
        case MessagePayload::MessageFailed:
            return receiveFailed(chunk->msgid());
        default:
            log_.error(receiveOperation, "Received message of unknown type");
            return;
    }
}

void WebRtcChunkAdapter::receiveSingle(const MessageChunkView& chunk) {
    const auto data = chunk.singleMessageData();
    if (!data) {
        log_.error(receiveOperation, "Failed to extract message data");
        return;
    }
    const std::uint16_t id = chunk.msgid();
    const auto record = singleChunks_.get(id);
    // A record matches only the same bytes: a new message that reuses a wrapped id is delivered.
    if (!record || !record->matches(*data)) {
        singleChunks_.set(id, std::make_shared<SingleChunk>(id, *data));
        if (auto delegate = this->delegate()) delegate->dataChannelDidReceive({data->begin(), data->end()}, id);
    }
    acknowledge(id, MessageFrameWriter::messageAck(id, chunk.category()), false,
                "Failed to send message ack for single message: ");
}

void WebRtcChunkAdapter::receiveChunked(const MessageChunkView& chunk) {
    const auto data = chunk.chunkedMessageData();
    if (!data) {
        log_.error(receiveOperation, "Failed to extract message data");
        return;
    }
    log_.debug(receiveOperation, "Received multichunk message data");
    const std::uint16_t id = chunk.msgid();
    const std::uint16_t category = chunk.category();

    if (auto found = incoming_.find(id); found != incoming_.end()) {
        const auto assembler = found->second.assembler;
        if (!assembler->belongs(*data)) {
            // A sender hands an id out again only after giving up the message it carried: the
            // message being assembled under it can no longer complete.
            abandonChunkedMessage(id, *assembler, "a frame of another message arrived under its id");
        } else if (unchunkers_.get(id) == assembler) {
            assembler->addChunk(data->data, data->position);
            if (auto delegate = this->delegate()) {
                delegate->dataChannelWillReceiveMessage(id, category, assembler->numChunksReceived(), assembler->totalChunks());
            }
            return;
        } else {
            // The message has just expired and its retry request is on its way.
            log_.debug(receiveOperation, "Dropped a frame of expiring message " + std::to_string(id));
            return;
        }
    } else if (auto finished = finishedChunked_.get(id)) {
        if (finished->matches(*data)) {
            // Neither a new assembler (which would deliver the message again or end in a failure
            // report) nor an acknowledgement (which could answer a new message under this id).
            finished->resetTimestamp(now());
            log_.debug(receiveOperation, "Dropped a late frame of finished message " + std::to_string(id));
            return;
        }
        finishedChunked_.removeValue(id);  // the id came round again: a new message
    }
    startChunkedMessage(id, category, *data);
}

void WebRtcChunkAdapter::startChunkedMessage(std::uint16_t id, std::uint16_t category,
                                             const ChunkedMessageDataView& first) {
    if (incoming_.size() >= settings_.maxReassemblingMessages) {
        return refuseChunkedMessage(id, category, first.length, "too many messages being reassembled");
    }
    // The room the message may need to finish: every admitted message can finish.
    const std::uint64_t reserve = std::uint64_t{first.length} * maxChunkBytes;
    if (bytesReserved_ + reserve > settings_.maxReassemblingBytes) {
        return refuseChunkedMessage(id, category, first.length, "reassembly byte limit reached");
    }
    auto assembler = std::make_shared<ChunkAssembler>(id, category, first, logger_);
    incoming_[id] = Incoming{assembler, reserve};
    bytesReserved_ += reserve;
    unchunkerCompletion(assembler, id, category);
    if (auto delegate = this->delegate()) {
        delegate->dataChannelWillReceiveMessage(id, category, assembler->numChunksReceived(), assembler->totalChunks());
    }
    unchunkers_.set(id, assembler);
}

void WebRtcChunkAdapter::abandonChunkedMessage(std::uint16_t id, const ChunkAssembler& assembler,
                                               const std::string& reason) {
    // No failure frame: it would fail the peer's new message under the id.
    log_.error(receiveOperation, "Gave up chunked message " + std::to_string(id) + ": " + reason);
    unchunkers_.removeValue(id);
    forgetIncoming(id);
    if (auto delegate = this->delegate()) delegate->dataChannelFailedToReceiveMessage(id, assembler.category());
}

void WebRtcChunkAdapter::abandonIncoming() {
    // Each came on an earlier channel: a sender of this library gave it up with that channel, and a
    // frame on the new one may come from a peer that started again, its ids with it. For that
    // peer's sake, what is still queued about the incoming messages of earlier channels, their
    // acknowledgements included, stays unwritten from now on (enqueueControl).
    ++channelsAttached_;
    std::vector<std::pair<std::uint16_t, std::shared_ptr<ChunkAssembler>>> open;
    for (const auto& [id, entry] : incoming_) open.emplace_back(id, entry.assembler);
    for (const auto& [id, assembler] : open) abandonChunkedMessage(id, *assembler, "it came on an earlier channel");
}

void WebRtcChunkAdapter::refuseChunkedMessage(std::uint16_t id, std::uint16_t category, std::uint16_t totalChunks,
                                              const std::string& reason) {
    log_.error(receiveOperation, "Refused chunked message " + std::to_string(id) + ": " + reason);
    finishedChunked_.set(id, std::make_shared<FinishedChunkedMessage>(totalChunks, std::vector<std::uint64_t>{}));
    if (auto delegate = this->delegate()) delegate->dataChannelFailedToReceiveMessage(id, category);
    // The message was never taken in: its failure frame may be dropped like an acknowledgement.
    enqueueControl(MessageFrameWriter::messageFailed(id, category), true, id)
        .catchError(
            [weak = weak_from_this(), log = log_](const std::exception_ptr& error) {
                auto self = weak.lock();
                if (self && SendQueue::isDropped(error)) {
                    self->controlFrameDropped();
                } else {
                    log.error(receivedMessageOperation, "Failed to create error response for chunked message");
                }
            },
            dispatchQueue_);
}

void WebRtcChunkAdapter::receiveRetry(const MessageChunkView& chunk) {
    const std::uint16_t id = chunk.msgid();
    const auto positions = chunk.chunkedMessageRetry();
    const auto chunker = chunkers_.get(id);
    if (!positions || !chunker || chunker->chunkCount() == 0) {
        log_.error(receiveOperation, "Received retry request for a message that doesn't exist");
        return;
    }
    // Each asked position the message has, once, unless its frame is still queued from an
    // earlier request.
    const auto* entry = outgoing(*chunker);
    std::vector<std::uint16_t> asked;
    for (std::uint16_t position : std::set<std::uint16_t>(positions->begin(), positions->end())) {
        if (position < chunker->chunkCount() && !(entry && entry->askedPositions.contains(position))) {
            asked.push_back(position);
        }
    }
    chunker->resetTimestamp(now());
    auto written = writeFrames(chunker, asked, true, true);
    written.done([log = log_] { log.debug(receiveOperation, "Sent chunks specified in retry request"); },
                 dispatchQueue_);
    written.catchError([log = log_](const std::exception_ptr&) { log.error(receiveOperation, "Failed to send requested chunks"); },
                       dispatchQueue_);
}

void WebRtcChunkAdapter::receiveAck(std::uint16_t id) {
    auto chunker = chunkers_.removeValue(id);
    if (!chunker) return;
    chunker->completed();
    if (auto* entry = outgoing(*chunker)) {
        settle(entry->sends, nullptr);  // delivered, so written whole
        outgoing_.erase(id);
    }
}

void WebRtcChunkAdapter::receiveFailed(std::uint16_t id) {
    if (auto chunker = chunkers_.removeValue(id)) chunker->timedOut();
    log_.error(receiveOperation, "Peer failed to receive message " + std::to_string(id));
}

WebRtcChunkAdapter::Incoming* WebRtcChunkAdapter::incoming(std::uint16_t id, const ChunkAssembler& assembler) {
    auto found = incoming_.find(id);
    return found != incoming_.end() && found->second.assembler.get() == &assembler ? &found->second : nullptr;
}

void WebRtcChunkAdapter::forgetIncoming(std::uint16_t id) {
    auto found = incoming_.find(id);
    if (found == incoming_.end()) return;
    bytesReserved_ -= found->second.bytesReserved;
    incoming_.erase(found);
}

}  // namespace quorvane
