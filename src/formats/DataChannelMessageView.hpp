#pragma once

// Reading of application messages. Every reassembled message from the peer goes through
// parseDataChannelMessage before anything in it is read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "messages_generated.h"

namespace quorvane {

/// The tag and payload of a message body.
class TaggedDataView {
public:
    explicit TaggedDataView(const TaggedData& data) : data_(&data) {}
    /// Nothing when absent (distinct from the empty text).
    std::optional<std::string> tag() const;
    /// The payload, read in place; empty when absent.
    std::span<const std::uint8_t> data() const;

private:
    const TaggedData* data_;
};

/// A Notification or Query body: a category and tagged data.
template <class Table>
class RequestView {
public:
    explicit RequestView(const Table& table) : table_(&table) {}
    std::uint16_t category() const { return table_->category(); }
    std::optional<TaggedDataView> data() const {
        if (table_->data() == nullptr) return std::nullopt;
        return TaggedDataView(*table_->data());
    }

protected:
    const Table* table_;
};

using NotificationView = RequestView<::Notification>;
using QueryView = RequestView<::Query>;

/// A Command body: a request that also says when it is to be acknowledged.
class CommandView : public RequestView<::Command> {
public:
    using RequestView::RequestView;
    /// received when absent or when the byte names no value.
    CommandAcknowledgementType acknowledgeon() const;
};

/// The failure answer of a command or query.
class ErrorResponseView {
public:
    explicit ErrorResponseView(const ErrorResponse& error) : error_(&error) {}
    std::uint32_t statusCode() const { return error_->statusCode(); }
    std::optional<std::string> message() const;

private:
    const ErrorResponse* error_;
};

/// One part of a query's answer.
class QueryResponseDataView {
public:
    explicit QueryResponseDataView(const QueryResponseData& part) : part_(&part) {}
    std::optional<TaggedDataView> data() const;
    /// True when absent, else true exactly when the byte is not 0.
    bool isLastMessage() const { return part_->isLastMessage(); }

private:
    const QueryResponseData* part_;
};

/// The answer to a command: an Acknowledge (success) or an ErrorResponse.
class CommandAcknowledgementView {
public:
    explicit CommandAcknowledgementView(const CommandAcknowledgement& ack) : ack_(&ack) {}
    /// The id of the acknowledged command.
    std::optional<std::string> acknowledging() const;
    /// NONE when absent or when the byte names no member.
    CommandAcknowledgementSubtype messageType() const;
    /// Nothing unless messageType() is ErrorResponse and the member is present.
    std::optional<ErrorResponseView> errorResponse() const;

private:
    const CommandAcknowledgement* ack_;
};

/// One part of the answer to a query: a QueryResponseData or an ErrorResponse.
class QueryResponseView {
public:
    explicit QueryResponseView(const QueryResponse& response) : response_(&response) {}
    /// The id of the answered query.
    std::optional<std::string> respondingto() const;
    /// NONE when absent or when the byte names no member.
    QueryResponseSubtype messageType() const;
    /// Nothing unless messageType() is QueryResponseData and the member is present.
    std::optional<QueryResponseDataView> queryResponseData() const;
    /// Nothing unless messageType() is ErrorResponse and the member is present.
    std::optional<ErrorResponseView> errorResponse() const;

private:
    const QueryResponse* response_;
};

/// A verified DataChannelMessage. It reads the received bytes in place: they must outlive the
/// view and every view taken from it. Each body reader gives nothing unless messageType() names
/// that body and the body is present.
class DataChannelMessageView {
public:
    explicit DataChannelMessageView(const DataChannelMessage& message) : message_(&message) {}

    /// NONE when absent or when the byte names no body.
    DataChannelMessageSubtype messageType() const;
    /// Sending time in whole seconds since 1970; 0 when absent.
    std::uint32_t timestamp() const { return message_->timestamp(); }
    /// The message's text id; nothing when absent.
    std::optional<std::string> id() const;

    std::optional<NotificationView> notification() const;
    std::optional<CommandView> command() const;
    std::optional<QueryView> query() const;
    std::optional<CommandAcknowledgementView> commandAcknowledgement() const;
    std::optional<QueryResponseView> queryResponse() const;

private:
    const DataChannelMessage* message_;
};

/// Verifies `bytes` as one finished DataChannelMessage and returns a view of it, or nothing when
/// they are not one (truncated, corrupted, offsets or lengths outside the bytes). Nothing
/// outside `bytes` is ever read. `bytes` must start on a 4-byte boundary (std::invalid_argument
/// otherwise).
std::optional<DataChannelMessageView> parseDataChannelMessage(std::span<const std::uint8_t> bytes);
/// The view would outlive a temporary buffer: keep the bytes in a variable.
std::optional<DataChannelMessageView> parseDataChannelMessage(std::vector<std::uint8_t>&& bytes) = delete;

}  // namespace quorvane
