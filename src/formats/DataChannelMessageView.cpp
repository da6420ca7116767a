#include "formats/DataChannelMessageView.hpp"

#include "formats/WireFormat.hpp"

namespace quorvane {

namespace {

/// A view of `table`, or nothing when it is absent.
template <class View, class Table>
std::optional<View> viewOf(const Table* table) {
    if (table == nullptr) return std::nullopt;
    return View(*table);
}

}  // namespace

std::optional<std::string> TaggedDataView::tag() const { return wire::optionalString(data_->tag()); }

std::span<const std::uint8_t> TaggedDataView::data() const { return wire::bytesOf(data_->data()); }

CommandAcknowledgementType CommandView::acknowledgeon() const { return wire::knownOrFirst(table_->acknowledgeon()); }

std::optional<std::string> ErrorResponseView::message() const { return wire::optionalString(error_->message()); }

std::optional<TaggedDataView> QueryResponseDataView::data() const { return viewOf<TaggedDataView>(part_->data()); }

std::optional<std::string> CommandAcknowledgementView::acknowledging() const {
    return wire::optionalString(ack_->acknowledging());
}

CommandAcknowledgementSubtype CommandAcknowledgementView::messageType() const {
    return wire::knownOrFirst(ack_->message_type());
}

std::optional<ErrorResponseView> CommandAcknowledgementView::errorResponse() const {
    return viewOf<ErrorResponseView>(ack_->message_as_ErrorResponse());
}

std::optional<std::string> QueryResponseView::respondingto() const {
    return wire::optionalString(response_->respondingto());
}

QueryResponseSubtype QueryResponseView::messageType() const { return wire::knownOrFirst(response_->message_type()); }

std::optional<QueryResponseDataView> QueryResponseView::queryResponseData() const {
    return viewOf<QueryResponseDataView>(response_->message_as_QueryResponseData());
}

std::optional<ErrorResponseView> QueryResponseView::errorResponse() const {
    return viewOf<ErrorResponseView>(response_->message_as_ErrorResponse());
}

DataChannelMessageSubtype DataChannelMessageView::messageType() const {
    return wire::knownOrFirst(message_->message_type());
}

std::optional<std::string> DataChannelMessageView::id() const { return wire::optionalString(message_->id()); }

std::optional<NotificationView> DataChannelMessageView::notification() const {
    return viewOf<NotificationView>(message_->message_as_Notification());
}

std::optional<CommandView> DataChannelMessageView::command() const {
    return viewOf<CommandView>(message_->message_as_Command());
}

std::optional<QueryView> DataChannelMessageView::query() const {
    return viewOf<QueryView>(message_->message_as_Query());
}

std::optional<CommandAcknowledgementView> DataChannelMessageView::commandAcknowledgement() const {
    return viewOf<CommandAcknowledgementView>(message_->message_as_CommandAcknowledgement());
}

std::optional<QueryResponseView> DataChannelMessageView::queryResponse() const {
    return viewOf<QueryResponseView>(message_->message_as_QueryResponse());
}

std::optional<DataChannelMessageView> parseDataChannelMessage(std::span<const std::uint8_t> bytes) {
    return viewOf<DataChannelMessageView>(wire::verifiedRoot<DataChannelMessage>(bytes));
}

}  // namespace quorvane
