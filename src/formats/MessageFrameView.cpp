#include "formats/MessageFrameView.hpp"

#include "formats/WireFormat.hpp"

namespace quorvane {

MessagePayload MessageChunkView::payloadType() const { return wire::knownOrFirst(chunk_->payload_type()); }

std::optional<std::span<const std::uint8_t>> MessageChunkView::singleMessageData() const {
    const auto* single = chunk_->payload_as_SingleMessageData();
    if (single == nullptr) return std::nullopt;
    return wire::bytesOf(single->data());
}

std::optional<ChunkedMessageDataView> MessageChunkView::chunkedMessageData() const {
    const auto* chunked = chunk_->payload_as_ChunkedMessageData();
    if (chunked == nullptr) return std::nullopt;
    return ChunkedMessageDataView{chunked->position(), chunked->length(), wire::bytesOf(chunked->data())};
}

std::optional<std::vector<std::uint16_t>> MessageChunkView::chunkedMessageRetry() const {
    const auto* retry = chunk_->payload_as_ChunkedMessageRetry();
    if (retry == nullptr) return std::nullopt;
    std::vector<std::uint16_t> chunks;
    if (const auto* positions = retry->chunks()) chunks.assign(positions->begin(), positions->end());
    return chunks;
}

MessageTypes MessageFrameView::messageType() const { return wire::knownOrFirst(frame_->message_type()); }

std::optional<MessageChunkView> MessageFrameView::messageChunk() const {
    const auto* chunk = frame_->message_as_MessageChunk();
    if (chunk == nullptr) return std::nullopt;
    return MessageChunkView(*chunk);
}

namespace {

using flatbuffers::Table;
using flatbuffers::Verifier;
using flatbuffers::voffset_t;

// Verification of a received frame: every table, offset and vector must lie inside the bytes,
// but a field the schema marks required may be absent, and then reads as absent (a table as
// none, a vector as empty). The generated verifier would reject such a frame.

bool verifyEmpty(Verifier& verifier, const Table& table) {
    return table.VerifyTableStart(verifier) && verifier.EndTable();
}

template <class Element>
bool verifyVector(Verifier& verifier, const Table& table, voffset_t field) {
    return table.VerifyOffset(verifier, field) &&
           verifier.VerifyVector(table.GetPointer<const flatbuffers::Vector<Element>*>(field));
}

bool verifySingleMessageData(Verifier& verifier, const Table& table) {
    return table.VerifyTableStart(verifier) && verifyVector<std::uint8_t>(verifier, table, SingleMessageData::VT_DATA) &&
           verifier.EndTable();
}

bool verifyChunkedMessageData(Verifier& verifier, const Table& table) {
    return table.VerifyTableStart(verifier) &&
           table.VerifyField<std::uint16_t>(verifier, ChunkedMessageData::VT_POSITION, 2) &&
           table.VerifyField<std::uint16_t>(verifier, ChunkedMessageData::VT_LENGTH, 2) &&
           verifyVector<std::uint8_t>(verifier, table, ChunkedMessageData::VT_DATA) && verifier.EndTable();
}

bool verifyChunkedMessageRetry(Verifier& verifier, const Table& table) {
    return table.VerifyTableStart(verifier) &&
           verifyVector<std::uint16_t>(verifier, table, ChunkedMessageRetry::VT_CHUNKS) && verifier.EndTable();
}

/// The member of a union field, when present and of a known type, verified by `verifyMember`.
template <class VerifyMember>
bool verifyUnionMember(Verifier& verifier, const Table& table, voffset_t field, VerifyMember verifyMember) {
    if (!table.VerifyOffset(verifier, field)) return false;
    const auto* member = table.GetPointer<const Table*>(field);
    return member == nullptr || verifyMember(*member);
}

bool verifyMessageChunk(Verifier& verifier, const Table& table) {
    if (!table.VerifyTableStart(verifier) || !table.VerifyField<std::uint16_t>(verifier, MessageChunk::VT_MSGID, 2) ||
        !table.VerifyField<std::uint16_t>(verifier, MessageChunk::VT_CATEGORY, 2) ||
        !table.VerifyField<std::uint8_t>(verifier, MessageChunk::VT_PAYLOAD_TYPE, 1)) {
        return false;
    }
    const auto type = static_cast<MessagePayload>(table.GetField<std::uint8_t>(MessageChunk::VT_PAYLOAD_TYPE, 0));
    return verifyUnionMember(verifier, table, MessageChunk::VT_PAYLOAD, [&](const Table& payload) {
               switch (type) {
                   case MessagePayload::SingleMessageData: return verifySingleMessageData(verifier, payload);
                   case MessagePayload::ChunkedMessageData: return verifyChunkedMessageData(verifier, payload);
                   case MessagePayload::ChunkedMessageRetry: return verifyChunkedMessageRetry(verifier, payload);
                   case MessagePayload::MessageAck:
                   case MessagePayload::MessageFailed: return verifyEmpty(verifier, payload);
                   default: return true;  // read as none: the member is never looked at
               }
           }) &&
           verifier.EndTable();
}

/// A MessageFrame as the verifier sees it.
struct LenientMessageFrame : Table {
    bool Verify(Verifier& verifier) const {
        if (!VerifyTableStart(verifier) || !VerifyField<std::uint8_t>(verifier, MessageFrame::VT_MESSAGE_TYPE, 1)) {
            return false;
        }
        const auto type = static_cast<MessageTypes>(GetField<std::uint8_t>(MessageFrame::VT_MESSAGE_TYPE, 0));
        return verifyUnionMember(verifier, *this, MessageFrame::VT_MESSAGE, [&](const Table& message) {
                   switch (type) {
                       case MessageTypes::Heartbeat: return verifyEmpty(verifier, message);
                       case MessageTypes::MessageChunk: return verifyMessageChunk(verifier, message);
                       default: return true;
                   }
               }) &&
               verifier.EndTable();
    }
};

}  // namespace

std::optional<MessageFrameView> parseMessageFrame(std::span<const std::uint8_t> bytes) {
    wire::requireAligned(bytes);
    if (bytes.size() < sizeof(flatbuffers::uoffset_t) || bytes.size() >= FLATBUFFERS_MAX_BUFFER_SIZE) {
        return std::nullopt;
    }
    Verifier verifier(bytes.data(), bytes.size());
    if (!verifier.VerifyBuffer<LenientMessageFrame>(nullptr)) return std::nullopt;
    return MessageFrameView(*flatbuffers::GetRoot<MessageFrame>(bytes.data()));
}

}  // namespace quorvane
