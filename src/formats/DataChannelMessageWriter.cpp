#include "formats/DataChannelMessageWriter.hpp"

#include "formats/WireFormat.hpp"

namespace quorvane {

namespace {

flatbuffers::Offset<TaggedData> createTaggedData(flatbuffers::FlatBufferBuilder& builder, std::string_view tag,
                                                 std::span<const std::uint8_t> data) {
    auto tagString = wire::createString(builder, tag);
    auto bytes = wire::createBytes(builder, data);
    return CreateTaggedData(builder, tagString, bytes);
}

flatbuffers::Offset<ErrorResponse> createErrorResponse(flatbuffers::FlatBufferBuilder& builder,
                                                       std::uint32_t statusCode, std::string_view message) {
    auto text = wire::createString(builder, message);
    return CreateErrorResponse(builder, statusCode, text);
}

/// Wraps a body already in `builder` into the envelope and finishes it.
std::vector<std::uint8_t> finishMessage(wire::MessageBuilder& builder, std::string_view id,
                                        std::uint32_t timestamp, DataChannelMessageSubtype type,
                                        flatbuffers::Offset<void> body) {
    auto idString = wire::createString(builder, id);
    auto message = CreateDataChannelMessage(builder, type, body, timestamp, idString);
    return wire::finish(builder, message);
}

}  // namespace

std::vector<std::uint8_t> DataChannelMessageWriter::notification(std::string_view id, std::uint32_t timestamp,
                                                                 std::uint16_t category, std::string_view tag,
                                                                 std::span<const std::uint8_t> data) {
    wire::MessageBuilder builder(tag.size() + data.size());
    auto tagged = createTaggedData(builder, tag, data);
    auto body = CreateNotification(builder, category, tagged);
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::Notification, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::command(std::string_view id, std::uint32_t timestamp,
                                                            std::uint16_t category,
                                                            CommandAcknowledgementType acknowledgeon,
                                                            std::string_view tag, std::span<const std::uint8_t> data) {
    wire::MessageBuilder builder(tag.size() + data.size());
    auto tagged = createTaggedData(builder, tag, data);
    auto body = CreateCommand(builder, category, acknowledgeon, tagged);
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::Command, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::query(std::string_view id, std::uint32_t timestamp,
                                                          std::uint16_t category, std::string_view tag,
                                                          std::span<const std::uint8_t> data) {
    wire::MessageBuilder builder(tag.size() + data.size());
    auto tagged = createTaggedData(builder, tag, data);
    auto body = CreateQuery(builder, category, tagged);
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::Query, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::commandAcknowledgement(std::string_view id,
                                                                           std::uint32_t timestamp,
                                                                           std::string_view acknowledging) {
    wire::MessageBuilder builder;
    auto acknowledge = CreateAcknowledge(builder);
    auto acknowledgingString = wire::createString(builder, acknowledging);
    auto body = CreateCommandAcknowledgement(builder, acknowledgingString, CommandAcknowledgementSubtype::Acknowledge,
                                             acknowledge.Union());
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::CommandAcknowledgement, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::commandError(std::string_view id, std::uint32_t timestamp,
                                                                 std::string_view acknowledging,
                                                                 std::uint32_t statusCode, std::string_view message) {
    wire::MessageBuilder builder;
    auto error = createErrorResponse(builder, statusCode, message);
    auto acknowledgingString = wire::createString(builder, acknowledging);
    auto body = CreateCommandAcknowledgement(builder, acknowledgingString,
                                             CommandAcknowledgementSubtype::ErrorResponse, error.Union());
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::CommandAcknowledgement, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::queryResponse(std::string_view id, std::uint32_t timestamp,
                                                                  std::string_view respondingto, std::string_view tag,
                                                                  std::span<const std::uint8_t> data,
                                                                  bool isLastMessage) {
    wire::MessageBuilder builder(tag.size() + data.size());
    auto tagged = createTaggedData(builder, tag, data);
    auto part = CreateQueryResponseData(builder, tagged, isLastMessage);
    auto respondingString = wire::createString(builder, respondingto);
    auto body = CreateQueryResponse(builder, respondingString, QueryResponseSubtype::QueryResponseData, part.Union());
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::QueryResponse, body.Union());
}

std::vector<std::uint8_t> DataChannelMessageWriter::queryError(std::string_view id, std::uint32_t timestamp,
                                                               std::string_view respondingto, std::uint32_t statusCode,
                                                               std::string_view message) {
    wire::MessageBuilder builder;
    auto error = createErrorResponse(builder, statusCode, message);
    auto respondingString = wire::createString(builder, respondingto);
    auto body = CreateQueryResponse(builder, respondingString, QueryResponseSubtype::ErrorResponse, error.Union());
    return finishMessage(builder, id, timestamp, DataChannelMessageSubtype::QueryResponse, body.Union());
}

}  // namespace quorvane
