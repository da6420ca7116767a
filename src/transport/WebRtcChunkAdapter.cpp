#include "transport/WebRtcChunkAdapter.hpp"

#include <limits>
#include <numeric>
#include <set>

#include "async/Clock.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "quorvane/Errors.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

constexpr const char* sendOperation = "sendData";
constexpr const char* receiveOperation = "dataChannel didReceive";
constexpr const char* receivedMessageOperation = "dataChannel didReceiveMessageWith";

double now() { return Clock::current()->monotonic(); }

// A timestamp that never expires: a message whose frames are still in the channel is not timed out.
constexpr double whileInChannel = std::numeric_limits<double>::infinity();

/// Every position of the message, to send it whole.
std::vector<std::uint16_t> allPositions(const Chunker& chunker) {
    std::vector<std::uint16_t> positions(chunker.chunkCount());
    std::iota(positions.begin(), positions.end(), std::uint16_t{0});
    return positions;
}

}  // namespace

WebRtcChunkAdapter::WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger)
    : WebRtcChunkAdapter(std::move(logger), Settings{}) {}

WebRtcChunkAdapter::WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger, Settings settings)
    : log_(logger, "WebRtcChunkAdapter"),
      settings_(settings),
      dispatchQueue_(DispatchQueue::create("WebRtcChunkAdapter")),
      logger_(std::move(logger)),
      chunkers_(dispatchQueue_),
      unchunkers_(dispatchQueue_),
      singleChunks_(dispatchQueue_),
      finishedChunked_(dispatchQueue_),
      queue_(std::make_shared<SendQueue>(dispatchQueue_)) {}

WebRtcChunkAdapter::~WebRtcChunkAdapter() {
    log_.debug("Deinit", "WebRtcChunkAdapter deinitialized");
    closeDataChannel();
}

void WebRtcChunkAdapter::setDelegate(std::weak_ptr<ChunkAdapterDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<ChunkAdapterDelegate> WebRtcChunkAdapter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

// --- Channel ------------------------------------------------------------------------------------

void WebRtcChunkAdapter::set(std::shared_ptr<DataChannel> dataChannel) {
    auto wrapper = DataChannelWrapper::create(std::move(dataChannel), logger_, dispatchQueue_, weak_from_this());
    std::shared_ptr<DataChannelWrapper> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(dataChannel_, wrapper);
        dataChannelOpened_ = false;
        // Before the new channel can report: its open state then reaches the send queue after it.
        queue_->set(wrapper);
    }
    // Released outside the lock: releasing a channel may wait for its thread.
    if (previous) {
        previous->detach();
        previous.reset();
        onQueue(&WebRtcChunkAdapter::channelWentAway);
    }
    chunkers_.resume();
    unchunkers_.resume();
    singleChunks_.resume();
    finishedChunked_.resume();
    onQueue(&WebRtcChunkAdapter::holdMessagesInChannel);
    // Registering waits for the channel's thread, where the reports come from.
    wrapper->attach();
}

void WebRtcChunkAdapter::closeDataChannel() {
    std::shared_ptr<DataChannelWrapper> wrapper;
    {
        std::lock_guard lock(mutex_);
        wrapper = std::move(dataChannel_);
        dataChannel_.reset();
    }
    queue_->didDisconnect();
    chunkers_.pause();
    unchunkers_.pause();
    singleChunks_.pause();
    finishedChunked_.pause();
    onQueue(&WebRtcChunkAdapter::channelWentAway);
    if (wrapper) wrapper->close();
}

void WebRtcChunkAdapter::shutDown() {
    shutDown_ = true;
    // Before the close, whose disconnect would fail the frame waiting for the connection otherwise.
    queue_->shutDown();
    closeDataChannel();
}

void WebRtcChunkAdapter::dataChannelDidChange(DataChannelState state, DataChannelWrapper& channel) {
    std::shared_ptr<ChunkAdapterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        // A replaced or closed channel's reports must not disturb the current one.
        if (dataChannel_.get() != &channel) return;
        if (state == DataChannelState::open) {
            queue_->didConnect();
        } else {
            queue_->didDisconnect();
        }
        if (state == DataChannelState::open && !std::exchange(dataChannelOpened_, true)) {
            onQueue(&WebRtcChunkAdapter::channelOpened);
        } else if (state == DataChannelState::closing || state == DataChannelState::closed) {
            onQueue(&WebRtcChunkAdapter::channelWentAway);
        }
        delegate = delegate_.lock();
    }
    if (delegate) delegate->dataChannelDidChange(state);
}

void WebRtcChunkAdapter::onQueue(void (WebRtcChunkAdapter::*step)()) {
    dispatchQueue_->async([weak = weak_from_this(), step] {
        if (auto self = weak.lock()) (self.get()->*step)();
    });
}

void WebRtcChunkAdapter::dataChannelFiredHeartbeatTimeout(DataChannelWrapper& channel) {
    std::shared_ptr<ChunkAdapterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        if (dataChannel_.get() != &channel) return;
        delegate = delegate_.lock();
    }
    if (delegate) delegate->dataChannelFiredHeartbeatTimeout();
}

// --- Sending ------------------------------------------------------------------------------------

Promise<void> WebRtcChunkAdapter::sendData(std::vector<std::uint8_t> data, std::uint16_t category,
                                           std::optional<std::uint16_t> retryId) {
    if (shutDown_) return Promise<void>::error(std::make_exception_ptr(WebRTCError::channelClosed()));
    auto sent = Promise<void>::pending();
    dispatchQueue_->async([self = shared_from_this(), data = std::move(data), category, retryId,
                           resolver = sent.resolver]() mutable {
        if (retryId) {
            self->resend(*retryId, nullptr, resolver);
        } else {
            self->sendNew(std::move(data), category, resolver);
        }
    });
    return sent.promise;
}

void WebRtcChunkAdapter::sendNew(std::vector<std::uint8_t> data, std::uint16_t category,
                                 const Resolver<void>& resolver) {
    if (data.size() > Chunker::maxMessageBytes) {
        log_.error(sendOperation, "Message of " + std::to_string(data.size()) + " bytes is too large to send");
        resolver.reject(WebRTCError::failedToSendData());
        return;
    }
    const auto id = nextMessageId();
    if (!id) {
        log_.error(sendOperation, "Every message id is held by an unacknowledged message");
        resolver.reject(WebRTCError::failedToSendData());
        return;
    }
    auto chunker = std::make_shared<Chunker>(std::move(data), *id, category);
    outgoing_[*id] = Outgoing{chunker, 0, {}};
    chunkers_.set(*id, chunker);
    watchOutgoing(chunker);
    writeFrames(chunker, allPositions(*chunker), false, false).pipeTo(resolver);
}

void WebRtcChunkAdapter::resend(std::uint16_t id, const std::shared_ptr<Chunker>& expected,
                                const Resolver<void>& resolver) {
    auto chunker = chunkers_.get(id);
    if (!chunker || (expected && chunker != expected)) {
        // Acknowledged meanwhile: there is nothing left to send.
        resolver.fulfill();
        return;
    }
    watchOutgoing(chunker);
    // A resent message does not wait behind the messages queued after it.
    writeFrames(chunker, allPositions(*chunker), chunker->isSingleChunk(), false).pipeTo(resolver);
}

std::optional<std::uint16_t> WebRtcChunkAdapter::nextMessageId() {
    for (std::size_t tried = 0; tried <= std::numeric_limits<std::uint16_t>::max(); ++tried) {
        const std::uint16_t id = messageId_++;
        if (!outgoing_.contains(id)) return id;
    }
    return std::nullopt;
}

Promise<void> WebRtcChunkAdapter::writeFrames(const std::shared_ptr<Chunker>& chunker,
                                              const std::vector<std::uint16_t>& positions, bool priority, bool asked) {
    if (auto* entry = outgoing(*chunker)) {
        entry->framesInChannel += positions.size();
        if (entry->framesInChannel > 0) chunker->resetTimestamp(whileInChannel);
        if (asked) entry->askedPositions.insert(positions.begin(), positions.end());
    }
    std::vector<Promise<void>> writes;
    writes.reserve(positions.size());
    for (std::uint16_t position : positions) {
        auto left = [weak = weak_from_this(), chunker] {
            if (auto self = weak.lock()) self->frameLeftChannel(chunker);
        };
        // The frame is made when its turn comes: a message's frames never all exist at once. A
        // message acknowledged or given up meanwhile has no frame to write.
        auto frame = [weak = weak_from_this(), chunker, position] {
            auto self = weak.lock();
            auto* entry = self ? self->outgoing(*chunker) : nullptr;
            if (!entry) return SendQueue::Frame{};
            entry->onChannel = true;
            return chunker->frame(position);
        };
        auto write = queue_->enqueue(frame, priority, true, left);
        write.catchError([left](const std::exception_ptr&) { left(); }, dispatchQueue_);
        if (asked) {
            write.ensure(
                [weak = weak_from_this(), chunker, position] {
                    auto self = weak.lock();
                    if (auto* entry = self ? self->outgoing(*chunker) : nullptr) entry->askedPositions.erase(position);
                },
                dispatchQueue_);
        }
        writes.push_back(write);
    }
    return when(writes);
}

void WebRtcChunkAdapter::frameLeftChannel(const std::shared_ptr<Chunker>& chunker) {
    auto* entry = outgoing(*chunker);
    if (!entry || entry->framesInChannel == 0) return;
    if (--entry->framesInChannel == 0) chunker->resetTimestamp(now());
}

WebRtcChunkAdapter::Outgoing* WebRtcChunkAdapter::outgoing(const Chunker& chunker) {
    auto found = outgoing_.find(chunker.id());
    return found != outgoing_.end() && found->second.chunker.get() == &chunker ? &found->second : nullptr;
}

void WebRtcChunkAdapter::holdMessagesInChannel() {
    for (auto& [id, entry] : outgoing_) {
        if (entry.framesInChannel > 0) entry.chunker->resetTimestamp(whileInChannel);
    }
}

void WebRtcChunkAdapter::channelWentAway() {
    std::vector<std::shared_ptr<Chunker>> lost;
    for (auto& [id, entry] : outgoing_) {
        if (!std::exchange(entry.onChannel, false)) continue;
        if (entry.chunker->isSingleChunk()) {
            entry.resendOnOpen = true;
        } else {
            lost.push_back(entry.chunker);
        }
    }
    for (const auto& chunker : lost) {
        chunkers_.removeValue(chunker->id());
        outgoingFailed(chunker);
    }
}

void WebRtcChunkAdapter::channelOpened() {
    std::vector<std::shared_ptr<Chunker>> again;
    for (auto& [id, entry] : outgoing_) {
        // Not waiting in the queue: written to a channel that went away, or its write failed.
        const bool unqueued = std::exchange(entry.resendOnOpen, false) || entry.framesInChannel == 0;
        if (entry.chunker->isSingleChunk() && unqueued) again.push_back(entry.chunker);
    }
    if (again.empty()) return;
    log_.debug(sendOperation, "Resending " + std::to_string(again.size()) +
                                  " unacknowledged single chunk messages on the new channel");
    for (const auto& chunker : again) resend(chunker->id(), chunker, Promise<void>::pending().resolver);
}

void WebRtcChunkAdapter::watchOutgoing(const std::shared_ptr<Chunker>& chunker) {
    chunker->completion().catchError(
        [weak = weak_from_this(), weakChunker = std::weak_ptr<Chunker>(chunker)](const std::exception_ptr&) {
            auto self = weak.lock();
            auto chunker = weakChunker.lock();
            if (self && chunker) self->outgoingFailed(chunker);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::outgoingFailed(const std::shared_ptr<Chunker>& chunker) {
    const std::string id = std::to_string(chunker->id());
    if (!chunker->isSingleChunk()) {
        // Never resent: a peer keeps no record of the multi-frame messages it delivered, so a
        // frame sent again would open a new assembler there and deliver the message again.
        log_.error(sendOperation, "Failed to send large message with id " + id + ", timed out");
        giveUpOutgoing(chunker);
        return;
    }
    const bool retry = chunker->shouldRetry();
    log_.error(sendOperation, "Single chunk message with id " + id + " timed out. " +
                                  (retry ? "Resending message" : "Hit max retry limit, message will be dropped"));
    if (!retry) {
        giveUpOutgoing(chunker);
        return;
    }
    chunker->resetTimestamp(now());
    chunkers_.set(chunker->id(), chunker);
    dispatchQueue_->async([weak = weak_from_this(), chunker] {
        if (auto self = weak.lock()) self->resend(chunker->id(), chunker, Promise<void>::pending().resolver);
    });
}

void WebRtcChunkAdapter::giveUpOutgoing(const std::shared_ptr<Chunker>& chunker) {
    if (outgoing(*chunker)) outgoing_.erase(chunker->id());
    if (auto delegate = this->delegate()) delegate->dataChannelFailedToSend(chunker->data(), chunker->id());
}

// --- Receiving ----------------------------------------------------------------------------------

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
    acknowledge(id, MessageFrameWriter::messageAck(id, chunk.category()),
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

    if (auto assembler = unchunkers_.get(id)) {
        assembler->addChunk(data->data, data->position);
        if (auto delegate = this->delegate()) {
            delegate->dataChannelWillReceiveMessage(id, category, assembler->numChunksReceived(), assembler->totalChunks());
        }
        return;
    }
    if (auto finished = finishedChunked_.get(id)) {
        if (finished->matches(*data)) {
            // Neither a new assembler (which would deliver the message again or end in a failure
            // report) nor an acknowledgement (which could answer a new message under this id).
            finished->resetTimestamp(now());
            log_.debug(receiveOperation, "Dropped a late frame of finished message " + std::to_string(id));
            return;
        }
        finishedChunked_.removeValue(id);  // the id came round again: a new message
    }
    if (incoming_.contains(id)) {
        // The message under this id has just expired and its retry request is on its way.
        log_.debug(receiveOperation, "Dropped a frame of expiring message " + std::to_string(id));
        return;
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

void WebRtcChunkAdapter::refuseChunkedMessage(std::uint16_t id, std::uint16_t category, std::uint16_t totalChunks,
                                              const std::string& reason) {
    log_.error(receiveOperation, "Refused chunked message " + std::to_string(id) + ": " + reason);
    finishedChunked_.set(id, std::make_shared<FinishedChunkedMessage>(totalChunks, std::vector<std::uint64_t>{}));
    if (auto delegate = this->delegate()) delegate->dataChannelFailedToReceiveMessage(id, category);
    // The message was never taken in: its failure frame may be dropped like an acknowledgement.
    enqueueControl(MessageFrameWriter::messageFailed(id, category), true)
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
    if (outgoing(*chunker)) outgoing_.erase(id);
}

void WebRtcChunkAdapter::receiveFailed(std::uint16_t id) {
    if (auto chunker = chunkers_.removeValue(id)) chunker->timedOut();
    log_.error(receiveOperation, "Peer failed to receive message " + std::to_string(id));
}

void WebRtcChunkAdapter::unchunkerCompletion(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id,
                                             std::uint16_t category) {
    const auto completion = assembler->completion();
    const std::weak_ptr<ChunkAssembler> weakAssembler = assembler;
    completion.done(
        [weak = weak_from_this(), weakAssembler, id](const std::vector<std::uint8_t>& message) {
            auto self = weak.lock();
            auto assembler = weakAssembler.lock();
            if (self && assembler) self->unchunkerDelivered(assembler, id, message);
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

void WebRtcChunkAdapter::unchunkerDelivered(const std::shared_ptr<ChunkAssembler>& assembler, std::uint16_t id,
                                            const std::vector<std::uint8_t>& message) {
    if (!incoming(id, *assembler)) return;
    if (auto delegate = this->delegate()) delegate->dataChannelDidReceive(message, id);
    unchunkers_.removeValue(id);
    forgetIncoming(id);
    finishedChunked_.set(id, std::make_shared<FinishedChunkedMessage>(assembler->totalChunks(), assembler->chunkDigests()));
    acknowledge(id, assembler->buildAck(), "Failed to send message ack for chunked message: ");
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

Promise<void> WebRtcChunkAdapter::enqueueControl(std::vector<std::uint8_t> frame, bool droppable) {
    return queue_->enqueueControl(std::move(frame), droppable);
}

void WebRtcChunkAdapter::acknowledge(std::uint16_t id, std::vector<std::uint8_t> frame, std::string failureText) {
    // Acknowledgements are idempotent: the one waiting answers a repeat as well.
    if (!acknowledgementsWaiting_.insert(id).second) return;
    auto written = enqueueControl(std::move(frame), true);
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
