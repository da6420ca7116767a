// The receive road of QuorvaneClientImpl: messages from the peer, the answers to what this side
// sent, and the transport's failure reports.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "client/LogTexts.hpp"
#include "client/QuorvaneClientImpl.hpp"
#include "formats/DataChannelMessageView.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

constexpr const char* readOperation = "webRtcClient(didReceive:)";

const char* kindName(DataChannelMessageSubtype type) {
    switch (type) {
        case DataChannelMessageSubtype::Notification: return "Notification";
        case DataChannelMessageSubtype::Command: return "Command";
        case DataChannelMessageSubtype::Query: return "Query";
        case DataChannelMessageSubtype::CommandAcknowledgement: return "Command Acknowledgement";
        case DataChannelMessageSubtype::QueryResponse: return "Query Response";
        case DataChannelMessageSubtype::NONE: break;
    }
    return "Invalid";
}

/// The tagged data of a body, or nothing when the body has none or its tag is missing.
std::optional<QVTaggedData> unpackTaggedData(const std::optional<TaggedDataView>& data) {
    if (!data) return std::nullopt;
    auto tag = data->tag();
    if (!tag) return std::nullopt;
    auto bytes = data->data();
    return QVTaggedData(std::move(*tag), {bytes.begin(), bytes.end()});
}

/// The answer to the peer for a failure of the host's handling of a command or query: the error
/// itself when it is an error response, else the status-500 stand-in.
QVError errorResponseFor(const std::exception_ptr& error, QVError::MessageType type) {
    try {
        std::rethrow_exception(error);
    } catch (const QVErrorResponse& response) {
        return QVError(response.message(), response.statusCode());
    } catch (...) {
        return QVError::getSystemDefaultError(type);
    }
}

}  // namespace

// --- Transport reports ---------------------------------------------------------------------------

void QuorvaneClientImpl::transportLayerDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) {
    internalQueue_->async(
        [self = shared_from_this(), data = std::move(data), id]() mutable { self->receive(std::move(data), id); });
}

void QuorvaneClientImpl::transportLayerFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) {
    log_.error("transportLayer failedToSendMessageWith", "Failed to send message with ID " + std::to_string(id));
    internalQueue_->async([self = shared_from_this(), data] { self->sendFailed(data); });
}

void QuorvaneClientImpl::transportLayerFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    log_.error("transportLayer failedToReceiveMessageWith",
               "Failed to receive message with ID " + std::to_string(id) + " and category " + std::to_string(category));
    deliver("quorvaneFailedToReceiveMessage",
            [id, category](QuorvaneDelegate& delegate) { delegate.quorvaneFailedToReceiveMessage(id, category); });
}

// --- The receive road, on the internal queue -----------------------------------------------------

void QuorvaneClientImpl::receive(Bytes data, std::uint16_t id) {
    // The host's report of the bytes shares them; the views below read them in place.
    const auto bytes = std::make_shared<const Bytes>(std::move(data));
    auto message = parseDataChannelMessage(*bytes);
    if (!message) {
        log_.error(readOperation, "Received malformed data channel message");
        return;
    }
    auto messageId = message->id();
    if (!messageId) {
        log_.error(readOperation, "Received invalid message without ID");
        return;
    }
    const auto type = message->messageType();
    deliver("quorvaneDidReceiveMessage",
            [bytes, name = std::string(kindName(type))](QuorvaneDelegate& delegate) {
                delegate.quorvaneDidReceiveMessage(*bytes, name);
            });
    switch (type) {
        case DataChannelMessageSubtype::NONE:
            log_.error(readOperation, "Received data channel message with unknown message type");
            break;
        case DataChannelMessageSubtype::Notification: receiveNotification(*message, id); break;
        case DataChannelMessageSubtype::Command: receiveCommand(*message, *messageId, id); break;
        case DataChannelMessageSubtype::Query: receiveQuery(*message, *messageId, id); break;
        case DataChannelMessageSubtype::CommandAcknowledgement: receiveCommandAcknowledgement(*message); break;
        case DataChannelMessageSubtype::QueryResponse: receiveQueryResponse(*message); break;
    }
}

void QuorvaneClientImpl::receiveNotification(const DataChannelMessageView& message, std::uint16_t id) {
    auto body = message.notification();
    auto data = body ? unpackTaggedData(body->data()) : std::nullopt;
    if (!data) {
        log_.warn(readOperation, "Couldn't parse notification");
        return;
    }
    log_.debug(readOperation, "Recieved Notification");
    deliver("quorvaneDidReceiveNotification",
            [notification = QVNotification(id, body->category(), std::move(*data))](QuorvaneDelegate& delegate) {
                delegate.quorvaneDidReceiveNotification(notification);
            });
}

void QuorvaneClientImpl::receiveCommand(const DataChannelMessageView& message, const std::string& messageId,
                                        std::uint16_t id) {
    auto body = message.command();
    auto data = body ? unpackTaggedData(body->data()) : std::nullopt;
    if (!data) {
        log_.warn(readOperation, "Couldn't parse command");
        return;
    }
    log_.debug(readOperation, "Recieved Command");
    const auto category = body->category();
    const bool onFinish = body->acknowledgeon() == CommandAcknowledgementType::finished;
    QVCommand command(id, category, std::move(*data), onFinish ? QVAcknowledgeOn::finished : QVAcknowledgeOn::received);

    if (!onFinish) {
        // Acknowledged at once, whatever the host then does with it.
        sendCommandAcknowledgement(messageId, category, nullptr);
        deliver("quorvaneDidReceiveCommand", [command = std::move(command)](QuorvaneDelegate& delegate) {
            delegate.quorvaneDidReceiveCommand(command, QVCommandContext(true));
        });
        return;
    }

    // Acknowledged once, when the host settles the context.
    QVCommandContext context;
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    context.completion.promise.done(
        [weak, messageId, category] {
            if (auto self = weak.lock()) self->sendCommandAcknowledgement(messageId, category, nullptr);
        },
        internalQueue_);
    context.completion.promise.catchError(
        [weak, messageId, category](const std::exception_ptr& error) {
            auto self = weak.lock();
            if (!self) return;
            const auto response = errorResponseFor(error, QVError::MessageType::command);
            self->sendCommandAcknowledgement(messageId, category, &response);
            self->log_.error("commandCompletion", response.message());
        },
        internalQueue_);
    deliver(
        "quorvaneDidReceiveCommand",
        [command = std::move(command), context](QuorvaneDelegate& delegate) {
            delegate.quorvaneDidReceiveCommand(command, context);
        },
        [resolver = context.completion.resolver](const std::exception_ptr& error) { resolver.reject(error); });
}

void QuorvaneClientImpl::receiveQuery(const DataChannelMessageView& message, const std::string& messageId,
                                      std::uint16_t id) {
    auto body = message.query();
    auto data = body ? unpackTaggedData(body->data()) : std::nullopt;
    if (!data) {
        log_.warn(readOperation, "Couldn't parse query");
        return;
    }
    log_.debug(readOperation, "Received Query");
    const auto category = body->category();
    auto context = makeQueryContext(messageId, category);
    deliver(
        "quorvaneDidReceiveQuery",
        [query = QVQuery(id, category, std::move(*data)), context](QuorvaneDelegate& delegate) {
            delegate.quorvaneDidReceiveQuery(query, context);
        },
        [context](const std::exception_ptr& error) { context.error(errorResponseFor(error, QVError::MessageType::query)); });
}

QVQueryContext QuorvaneClientImpl::makeQueryContext(const std::string& messageId, std::uint16_t category) {
    // Set by the last part or an error: the query is answered, later calls send nothing.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    auto reportFailure = [weak](const Promise<void>& sent) {
        sent.catchError([weak](const std::exception_ptr& error) {
            if (auto self = weak.lock()) self->log_.error("queryCompletion", "Query response not sent: " + errorDescription(error));
        });
    };
    auto respond = [weak, messageId, category, answered, reportFailure](const QVTaggedData& data, bool isLastMessage) {
        auto self = weak.lock();
        if (!self || *answered || (isLastMessage && answered->exchange(true))) return;
        reportFailure(self->sendQueryResponse(messageId, category, data, isLastMessage, nullptr));
    };
    auto fail = [weak, messageId, category, answered, reportFailure](const QVErrorResponse& error) {
        auto self = weak.lock();
        if (!self || answered->exchange(true)) return;
        self->log_.error("queryCompletion", error.message());
        reportFailure(self->sendQueryResponse(messageId, category, QVTaggedData("", {}), true, &error));
    };
    return QVQueryContext(std::move(respond), std::move(fail));
}

// --- Answers to what this side sent --------------------------------------------------------------

void QuorvaneClientImpl::receiveCommandAcknowledgement(const DataChannelMessageView& message) {
    auto body = message.commandAcknowledgement();
    auto acknowledging = body ? body->acknowledging() : std::nullopt;
    if (!acknowledging) {
        log_.warn(readOperation, "Couldn't parse command ack");
        return;
    }
    auto entry = pendingCommands_.find(*acknowledging);
    switch (body->messageType()) {
        case CommandAcknowledgementSubtype::NONE:
            log_.error(readOperation, "Received command ack with unknown message type");
            return;
        case CommandAcknowledgementSubtype::Acknowledge:
            log_.debug(readOperation, "Received CommandAcknowledgement");
            if (entry != pendingCommands_.end()) {
                entry->second.resolver.fulfill();
                pendingCommands_.erase(entry);
            }
            return;
        case CommandAcknowledgementSubtype::ErrorResponse: {
            auto response = body->errorResponse();
            auto text = response ? response->message() : std::nullopt;
            if (!text) {
                log_.warn(readOperation, "Couldn't parse ErrorResponse for command");
                return;
            }
            log_.debug(readOperation, "Received ErrorResponse for Command");
            if (entry != pendingCommands_.end()) {
                entry->second.resolver.reject(QVError(std::move(*text), response->statusCode()));
                pendingCommands_.erase(entry);
            }
            return;
        }
    }
}

void QuorvaneClientImpl::receiveQueryResponse(const DataChannelMessageView& message) {
    auto body = message.queryResponse();
    auto respondingto = body ? body->respondingto() : std::nullopt;
    if (!respondingto) {
        log_.warn(readOperation, "Couldn't parse QueryResponse");
        return;
    }
    switch (body->messageType()) {
        case QueryResponseSubtype::NONE:
            log_.error(readOperation, "Received query response with unknown message type");
            return;
        case QueryResponseSubtype::QueryResponseData: {
            auto part = body->queryResponseData();
            auto data = part ? unpackTaggedData(part->data()) : std::nullopt;
            if (!data) {
                log_.warn(readOperation, "Couldn't parse QueryResponseData");
                return;
            }
            log_.debug(readOperation, "Received QueryResponseData");
            auto entry = pendingQueries_.find(*respondingto);
            if (entry == pendingQueries_.end()) return;
            const bool isLast = part->isLastMessage();
            auto receipt = entry->second.receipt;
            if (receipt.received()) runHostCode("onReceived", [&] { receipt.received()(*data, isLast); });
            entry = pendingQueries_.find(*respondingto);  // the handler ran: look again
            if (entry == pendingQueries_.end()) return;
            if (isLast) {
                pendingQueries_.erase(entry);
                receipt.completion.resolver.fulfill();
            } else {
                armQueryTimer(*respondingto, entry->second);
            }
            return;
        }
        case QueryResponseSubtype::ErrorResponse: {
            auto response = body->errorResponse();
            auto text = response ? response->message() : std::nullopt;
            if (!text) {
                log_.warn(readOperation, "Couldn't parse ErrorResponse for query");
                return;
            }
            log_.debug(readOperation, "Received ErrorResponse for Query");
            failQuery(*respondingto, std::make_exception_ptr(QVError(std::move(*text), response->statusCode())));
            return;
        }
    }
}

void QuorvaneClientImpl::sendFailed(const Bytes& data) {
    auto message = parseDataChannelMessage(data);
    auto messageId = message ? message->id() : std::nullopt;
    if (!messageId) return;
    switch (message->messageType()) {
        case DataChannelMessageSubtype::Command: {
            auto entry = pendingCommands_.find(*messageId);
            if (entry != pendingCommands_.end()) entry->second.resolver.reject(QuorvaneError::failedToSend("command"));
            break;
        }
        case DataChannelMessageSubtype::Query:
            failQuery(*messageId, std::make_exception_ptr(QuorvaneError::failedToSend("query")));
            break;
        default: break;
    }
}

}  // namespace quorvane
