// WebRtcChunkAdapter: sending, the outgoing record, resends and giving up.

#include "transport/WebRtcChunkAdapterSupport.hpp"

#include <limits>
#include <numeric>

#include "quorvane/Errors.hpp"

namespace quorvane {

namespace {

/// Every position of the message, to send it whole.
std::vector<std::uint16_t> allPositions(const Chunker& chunker) {
    std::vector<std::uint16_t> positions(chunker.chunkCount());
    std::iota(positions.begin(), positions.end(), std::uint16_t{0});
    return positions;
}

}  // namespace

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

}  // namespace quorvane
