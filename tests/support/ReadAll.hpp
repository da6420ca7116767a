#pragma once

// Reads every field that a parsed data-channel frame, application message or signaling message
// offers, so that tests and fuzz targets exercise each reader on untrusted bytes. Each function
// returns a number derived from what it read, so that nothing is optimised away.

#include <cstddef>
#include <optional>
#include <string>

#include "formats/DataChannelMessageView.hpp"
#include "formats/MessageFrameView.hpp"
#include "formats/RtcHandshakeView.hpp"

namespace quorvane::testing {

inline std::size_t sizeOf(const std::optional<std::string>& text) { return text ? text->size() + 1 : 0; }

inline std::size_t readAll(const MessageFrameView& frame) {
    std::size_t sum = static_cast<std::size_t>(frame.messageType());
    if (auto chunk = frame.messageChunk()) {
        sum += chunk->msgid() + chunk->category() + static_cast<std::size_t>(chunk->payloadType());
        if (auto single = chunk->singleMessageData()) {
            for (auto byte : *single) sum += byte;
        }
        if (auto chunked = chunk->chunkedMessageData()) {
            sum += chunked->position + chunked->length;
            for (auto byte : chunked->data) sum += byte;
        }
        if (auto retry = chunk->chunkedMessageRetry()) {
            for (auto position : *retry) sum += position;
        }
    }
    return sum;
}

inline std::size_t readAll(const std::optional<TaggedDataView>& data) {
    if (!data) return 0;
    std::size_t sum = sizeOf(data->tag());
    for (auto byte : data->data()) sum += byte;
    return sum;
}

inline std::size_t readAll(const std::optional<ErrorResponseView>& error) {
    return error ? error->statusCode() + sizeOf(error->message()) : 0;
}

inline std::size_t readAll(const DataChannelMessageView& message) {
    std::size_t sum = static_cast<std::size_t>(message.messageType()) + message.timestamp() + sizeOf(message.id());
    if (auto notification = message.notification()) sum += notification->category() + readAll(notification->data());
    if (auto query = message.query()) sum += query->category() + readAll(query->data());
    if (auto command = message.command()) {
        sum += command->category() + static_cast<std::size_t>(command->acknowledgeon()) + readAll(command->data());
    }
    if (auto ack = message.commandAcknowledgement()) {
        sum += sizeOf(ack->acknowledging()) + static_cast<std::size_t>(ack->messageType()) +
               readAll(ack->errorResponse());
    }
    if (auto response = message.queryResponse()) {
        sum += sizeOf(response->respondingto()) + static_cast<std::size_t>(response->messageType()) +
               readAll(response->errorResponse());
        if (auto part = response->queryResponseData()) sum += part->isLastMessage() + readAll(part->data());
    }
    return sum;
}

inline std::size_t readAll(const std::optional<SessionDescriptionView>& description) {
    return description ? sizeOf(description->type()) + sizeOf(description->sdp()) : 0;
}

inline std::size_t readAll(const RtcHandshakeView& handshake) {
    std::size_t sum = sizeOf(handshake.token()) + handshake.timestamp() + static_cast<std::size_t>(handshake.messageType());
    sum += readAll(handshake.offer()) + readAll(handshake.answer()) + sizeOf(handshake.disconnect());
    if (auto candidate = handshake.iceCandidate()) {
        sum += sizeOf(candidate->candidate()) + static_cast<std::size_t>(candidate->sdpMLineIndex()) +
               sizeOf(candidate->sdpMid()) + sizeOf(candidate->usernameFragment());
    }
    return sum;
}

}  // namespace quorvane::testing
