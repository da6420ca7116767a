#include <gtest/gtest.h>

#include "formats/DataChannelMessageView.hpp"
#include "formats/DataChannelMessageWriter.hpp"
#include "formats/WireTesting.hpp"
#include "support/ReadAll.hpp"

using namespace quorvane;
using quorvane::testing::hasField;
using quorvane::testing::readAll;
using quorvane::testing::storedByte;

namespace {

using Bytes = std::vector<std::uint8_t>;

const DataChannelMessage& rootOf(const Bytes& bytes) { return *flatbuffers::GetRoot<DataChannelMessage>(bytes.data()); }

Bytes finished(flatbuffers::FlatBufferBuilder& builder, flatbuffers::Offset<DataChannelMessage> root) {
    builder.Finish(root);
    return {builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()};
}

std::string tagOf(const std::optional<TaggedDataView>& data) { return data->tag().value(); }
Bytes bytesOf(const std::optional<TaggedDataView>& data) { return {data->data().begin(), data->data().end()}; }

const Bytes payload{0, 1, 2, 255};

}  // namespace

TEST(DataChannelMessage, RequestsRoundTrip) {
    auto notification = DataChannelMessageWriter::notification("abcdefghij", 1700000000, 1, "text/plain", payload);
    auto message = parseDataChannelMessage(notification);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->messageType(), DataChannelMessageSubtype::Notification);
    EXPECT_EQ(message->id(), "abcdefghij");
    EXPECT_EQ(message->timestamp(), 1700000000u);
    EXPECT_EQ(message->notification()->category(), 1);
    EXPECT_EQ(tagOf(message->notification()->data()), "text/plain");
    EXPECT_EQ(bytesOf(message->notification()->data()), payload);
    EXPECT_FALSE(message->query());
    EXPECT_FALSE(message->command());

    auto query = DataChannelMessageWriter::query("q", 1, 65535, "", {});
    message = parseDataChannelMessage(query);
    EXPECT_EQ(message->query()->category(), 65535);
    // An empty tag and an empty payload are still present.
    EXPECT_EQ(message->query()->data()->tag(), "");
    EXPECT_TRUE(hasField(rootOf(query).message_as_Query()->data(), TaggedData::VT_DATA));

    auto command = DataChannelMessageWriter::command("c", 1, 2, CommandAcknowledgementType::finished, "t", payload);
    message = parseDataChannelMessage(command);
    EXPECT_EQ(message->command()->acknowledgeon(), CommandAcknowledgementType::finished);
    EXPECT_EQ(storedByte(rootOf(command).message_as_Command(), Command::VT_ACKNOWLEDGEON), 1);
    EXPECT_EQ(bytesOf(message->command()->data()), payload);
}

TEST(DataChannelMessage, DefaultsAreLeftOutYetReadBack) {
    auto bytes = DataChannelMessageWriter::command("c", 0, 0, CommandAcknowledgementType::received, "t", payload);
    const auto* command = rootOf(bytes).message_as_Command();
    EXPECT_FALSE(hasField(&rootOf(bytes), DataChannelMessage::VT_TIMESTAMP));
    EXPECT_FALSE(hasField(command, Command::VT_CATEGORY));
    EXPECT_FALSE(hasField(command, Command::VT_ACKNOWLEDGEON));
    auto message = parseDataChannelMessage(bytes);
    EXPECT_EQ(message->timestamp(), 0u);
    EXPECT_EQ(message->command()->category(), 0);
    EXPECT_EQ(message->command()->acknowledgeon(), CommandAcknowledgementType::received);

    auto error = DataChannelMessageWriter::commandError("e", 5, "c", 0, "");
    EXPECT_FALSE(hasField(rootOf(error).message_as_CommandAcknowledgement()->message_as_ErrorResponse(),
                          ErrorResponse::VT_STATUSCODE));
    auto errorView = parseDataChannelMessage(error)->commandAcknowledgement()->errorResponse();
    EXPECT_EQ(errorView->statusCode(), 0u);
    EXPECT_EQ(errorView->message(), "");  // present and empty, not absent
}

TEST(DataChannelMessage, AnswersRoundTrip) {
    auto ack = DataChannelMessageWriter::commandAcknowledgement("a", 9, "commandid");
    auto message = parseDataChannelMessage(ack);
    EXPECT_EQ(message->commandAcknowledgement()->acknowledging(), "commandid");
    EXPECT_EQ(message->commandAcknowledgement()->messageType(), CommandAcknowledgementSubtype::Acknowledge);
    EXPECT_FALSE(message->commandAcknowledgement()->errorResponse());

    auto commandError = DataChannelMessageWriter::commandError("a", 9, "commandid", 500, "broken");
    auto error = parseDataChannelMessage(commandError)->commandAcknowledgement()->errorResponse();
    EXPECT_EQ(error->statusCode(), 500u);
    EXPECT_EQ(error->message(), "broken");

    auto queryError = DataChannelMessageWriter::queryError("r", 9, "queryid", 404, "none");
    auto response = parseDataChannelMessage(queryError)->queryResponse();
    EXPECT_EQ(response->respondingto(), "queryid");
    EXPECT_EQ(response->messageType(), QueryResponseSubtype::ErrorResponse);
    EXPECT_EQ(response->errorResponse()->statusCode(), 404u);
    EXPECT_FALSE(response->queryResponseData());
}

TEST(DataChannelMessage, IsLastMessageIsLeftOutWhenTrue) {
    auto last = DataChannelMessageWriter::queryResponse("r", 1, "q", "t", payload, true);
    const auto* lastPart = rootOf(last).message_as_QueryResponse()->message_as_QueryResponseData();
    EXPECT_FALSE(hasField(lastPart, QueryResponseData::VT_ISLASTMESSAGE));
    auto part = parseDataChannelMessage(last)->queryResponse()->queryResponseData();
    EXPECT_TRUE(part->isLastMessage());
    EXPECT_EQ(bytesOf(part->data()), payload);

    auto more = DataChannelMessageWriter::queryResponse("r", 1, "q", "t", payload, false);
    const auto* morePart = rootOf(more).message_as_QueryResponse()->message_as_QueryResponseData();
    EXPECT_EQ(storedByte(morePart, QueryResponseData::VT_ISLASTMESSAGE), 0);
    EXPECT_FALSE(parseDataChannelMessage(more)->queryResponse()->queryResponseData()->isLastMessage());

    // A received byte of 2 reads as true.
    flatbuffers::FlatBufferBuilder builder;
    QueryResponseDataBuilder partBuilder(builder);
    partBuilder.fbb_.AddElement<std::uint8_t>(QueryResponseData::VT_ISLASTMESSAGE, 2, 1);
    auto two = partBuilder.Finish();
    auto responseTable = CreateQueryResponse(builder, 0, QueryResponseSubtype::QueryResponseData, two.Union());
    auto bytes = finished(builder, CreateDataChannelMessage(builder, DataChannelMessageSubtype::QueryResponse,
                                                            responseTable.Union()));
    EXPECT_TRUE(parseDataChannelMessage(bytes)->queryResponse()->queryResponseData()->isLastMessage());
}

TEST(DataChannelMessage, UnknownBytesReadAsTheFirstValue) {
    flatbuffers::FlatBufferBuilder builder;
    auto command = CreateCommand(builder, 1, static_cast<CommandAcknowledgementType>(7));
    auto bytes = finished(builder, CreateDataChannelMessage(builder, DataChannelMessageSubtype::Command, command.Union()));
    auto message = parseDataChannelMessage(bytes);
    EXPECT_EQ(message->command()->acknowledgeon(), CommandAcknowledgementType::received);
    EXPECT_FALSE(message->command()->data());  // absent body data reads as nothing

    flatbuffers::FlatBufferBuilder unknown;
    auto ack = CreateAcknowledge(unknown);
    auto body = CreateCommandAcknowledgement(unknown, 0, static_cast<CommandAcknowledgementSubtype>(3), ack.Union());
    auto unknownBytes = finished(unknown, CreateDataChannelMessage(unknown, static_cast<DataChannelMessageSubtype>(6),
                                                                   body.Union()));
    message = parseDataChannelMessage(unknownBytes);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->messageType(), DataChannelMessageSubtype::NONE);
    EXPECT_FALSE(message->commandAcknowledgement());
}

TEST(DataChannelMessage, AnEmptyTableIsAValidMessageOfNoKind) {
    flatbuffers::FlatBufferBuilder builder;
    DataChannelMessageBuilder empty(builder);
    auto bytes = finished(builder, empty.Finish());
    auto message = parseDataChannelMessage(bytes);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->messageType(), DataChannelMessageSubtype::NONE);
    EXPECT_FALSE(message->id());
    EXPECT_EQ(message->timestamp(), 0u);
}

TEST(DataChannelMessage, DamagedBuffersAreRejectedOrReadSafely) {
    Bytes big(3000, 0x5a);
    std::vector<Bytes> sources{
        DataChannelMessageWriter::command("abcdefghij", 77, 3, CommandAcknowledgementType::finished, "tag", payload),
        DataChannelMessageWriter::queryResponse("abcdefghij", 77, "klmnopqrst", "tag", big, false),
        DataChannelMessageWriter::commandError("abcdefghij", 77, "klmnopqrst", 500, "error text"),
    };
    for (const auto& valid : sources) {
        auto expected = readAll(*parseDataChannelMessage(valid));
        quorvane::testing::forEachTruncation(valid, [&](const Bytes& bytes) {
            if (auto message = parseDataChannelMessage(bytes)) EXPECT_EQ(readAll(*message), expected);
        });
    }
    quorvane::testing::forEachBitFlip(sources[0], [](const Bytes& bytes) {
        if (auto message = parseDataChannelMessage(bytes)) readAll(*message);
    });
    quorvane::testing::forEachBitFlip(sources[2], [](const Bytes& bytes) {
        if (auto message = parseDataChannelMessage(bytes)) readAll(*message);
    });
    quorvane::testing::forEachRandomBuffer(20000, 128, [](const Bytes& bytes) {
        if (auto message = parseDataChannelMessage(bytes)) readAll(*message);
    });
}
