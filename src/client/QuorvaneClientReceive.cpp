// The receive road of QuorvaneClientImpl: messages from the peer, the answers to what this side
// sent, and the transport's failure reports.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

using Bytes = std::vector<std::uint8_t>;

/// Where the tagged data of a body lies in the message's bytes, or nothing when the body has none
/// or its tag is missing.
std::optional<PayloadSpot> locatePayload(const Bytes& message, const std::optional<TaggedDataView>& data) {
    if (!data) return std::nullopt;
    auto tag = data->tag();
    if (!tag) return std::nullopt;
    auto payload = data->data();
    const auto offset = payload.empty() ? std::size_t{0} : static_cast<std::size_t>(payload.data() - message.data());
    return PayloadSpot{std::move(*tag), offset, payload.size()};
}

/// The tagged data at `payload`, copied out of the message's bytes.
QVTaggedData copyTaggedData(const Bytes& message, PayloadSpot payload) {
    const auto begin = message.begin() + static_cast<std::ptrdiff_t>(payload.offset);
    return QVTaggedData(std::move(payload.tag), {begin, begin + static_cast<std::ptrdiff_t>(payload.size)});
}

/// The tagged data at `payload`, made of the message's buffer: the payload is moved to its front
/// and the rest cut off. A buffer still held elsewhere is copied from instead.
QVTaggedData takeTaggedData(std::shared_ptr<Bytes> message, PayloadSpot payload) {
    auto& bytes = *message;
    if (message.use_count() != 1) return copyTaggedData(bytes, std::move(payload));
    std::memmove(bytes.data(), bytes.data() + payload.offset, payload.size);
    bytes.resize(payload.size);
    return QVTaggedData(std::move(payload.tag), std::move(bytes));
}

/// Calls `use` with the tagged data at `payload`, lent out of the message's own buffer: the payload
/// is moved to the buffer's front for the call, and the message is put back as it was afterwards,
/// from the few bytes around the payload kept aside meanwhile.
void lendTaggedData(Bytes& message, PayloadSpot payload, const std::function<void(const QVTaggedData&)>& use) {
    const auto payloadBegin = message.begin() + static_cast<std::ptrdiff_t>(payload.offset);
    const auto payloadEnd = payloadBegin + static_cast<std::ptrdiff_t>(payload.size);
    const Bytes before(message.begin(), payloadBegin);
    const Bytes after(payloadEnd, message.end());
    std::memmove(message.data(), message.data() + payload.offset, payload.size);
    message.resize(payload.size);
    QVTaggedData data(std::move(payload.tag), std::move(message));
    use(data);
    // The vector keeps its buffer, which is large enough for the whole message again.
    message = std::move(data).data();
    message.resize(before.size() + payload.size + after.size());
    std::memmove(message.data() + before.size(), message.data(), payload.size);
    std::copy(before.begin(), before.end(), message.begin());
    std::copy(after.begin(), after.end(), message.end() - static_cast<std::ptrdiff_t>(after.size()));
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
    // The views below read the bytes in place; the host's report of them shares them, and the
    // tagged data is then made of them.
    auto bytes = std::make_shared<Bytes>(std::move(data));
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
    Received received{std::move(bytes), kindName(type)};
    switch (type) {
        case DataChannelMessageSubtype::NONE:
            reportReceived(std::move(received));
            log_.error(readOperation, "Received data channel message with unknown message type");
            break;
        case DataChannelMessageSubtype::Notification: receiveNotification(std::move(received), *message, id); break;
        case DataChannelMessageSubtype::Command: receiveCommand(std::move(received), *message, *messageId, id); break;
        case DataChannelMessageSubtype::Query: receiveQuery(std::move(received), *message, *messageId, id); break;
        case DataChannelMessageSubtype::CommandAcknowledgement:
            reportReceived(received);  // shared, not handed over: the message is read below
            receiveCommandAcknowledgement(*message);
            break;
        case DataChannelMessageSubtype::QueryResponse: receiveQueryResponse(std::move(received), *message); break;
    }
}

void QuorvaneClientImpl::reportReceived(Received message, std::optional<PayloadSpot> payload, AfterReport then) {
    hostQueue()->async([self = shared_from_this(), message = std::move(message), payload = std::move(payload),
                        then = std::move(then)]() mutable {
        self->reports_.run([&] {
            auto delegate = self->delegate();
            if (delegate) {
                self->runHostCode("quorvaneDidReceiveMessage",
                                  [&] { delegate->quorvaneDidReceiveMessage(*message.bytes, message.kind); });
            }
            // A call of its own through the gate: a host that let go of its client in the first
            // one hears nothing more of the message.
            if (!then) return;
            self->reports_.run([&] { then(delegate.get(), takeTaggedData(std::move(message.bytes), std::move(*payload))); });
        });
    });
}

void QuorvaneClientImpl::deliverReceived(Received message, PayloadSpot payload, const char* method,
                                         std::function<void(QuorvaneDelegate&, QVTaggedData)> call,
                                         std::function<void(std::exception_ptr)> onThrow) {
    reportReceived(std::move(message), std::move(payload),
                   [self = shared_from_this(), method, call = std::move(call), onThrow = std::move(onThrow)](
                       QuorvaneDelegate* delegate, QVTaggedData data) {
                       self->callHost(
                           delegate, method, [&](QuorvaneDelegate& host) { call(host, std::move(data)); }, onThrow);
                   });
}

void QuorvaneClientImpl::receiveNotification(Received message, const DataChannelMessageView& view, std::uint16_t id) {
    auto body = view.notification();
    auto payload = body ? locatePayload(*message.bytes, body->data()) : std::nullopt;
    if (!payload) {
        reportReceived(std::move(message));
        log_.warn(readOperation, "Couldn't parse notification");
        return;
    }
    log_.debug(readOperation, "Recieved Notification");
    deliverReceived(std::move(message), std::move(*payload), "quorvaneDidReceiveNotification",
                    [id, category = body->category()](QuorvaneDelegate& delegate, QVTaggedData data) {
                        delegate.quorvaneDidReceiveNotification(QVNotification(id, category, std::move(data)));
                    });
}

void QuorvaneClientImpl::receiveCommand(Received message, const DataChannelMessageView& view,
                                        const std::string& messageId, std::uint16_t id) {
    auto body = view.command();
    auto payload = body ? locatePayload(*message.bytes, body->data()) : std::nullopt;
    if (!payload) {
        reportReceived(std::move(message));
        log_.warn(readOperation, "Couldn't parse command");
        return;
    }
    log_.debug(readOperation, "Recieved Command");
    const auto category = body->category();
    const bool onFinish = body->acknowledgeon() == CommandAcknowledgementType::finished;
    const auto acknowledgeOn = onFinish ? QVAcknowledgeOn::finished : QVAcknowledgeOn::received;

    if (!onFinish) {
        // Acknowledged at once, whatever the host then does with it.
        sendCommandAcknowledgement(messageId, category, nullptr);
        deliverReceived(std::move(message), std::move(*payload), "quorvaneDidReceiveCommand",
                        [id, category, acknowledgeOn](QuorvaneDelegate& delegate, QVTaggedData data) {
                            delegate.quorvaneDidReceiveCommand(QVCommand(id, category, std::move(data), acknowledgeOn),
                                                               QVCommandContext(true));
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
    deliverReceived(
        std::move(message), std::move(*payload), "quorvaneDidReceiveCommand",
        [id, category, acknowledgeOn, context](QuorvaneDelegate& delegate, QVTaggedData data) {
            delegate.quorvaneDidReceiveCommand(QVCommand(id, category, std::move(data), acknowledgeOn), context);
        },
        [resolver = context.completion.resolver](const std::exception_ptr& error) { resolver.reject(error); });
}

void QuorvaneClientImpl::receiveQuery(Received message, const DataChannelMessageView& view,
                                      const std::string& messageId, std::uint16_t id) {
    auto body = view.query();
    auto payload = body ? locatePayload(*message.bytes, body->data()) : std::nullopt;
    if (!payload) {
        reportReceived(std::move(message));
        log_.warn(readOperation, "Couldn't parse query");
        return;
    }
    log_.debug(readOperation, "Received Query");
    const auto category = body->category();
    auto context = makeQueryContext(messageId, category);
    deliverReceived(
        std::move(message), std::move(*payload), "quorvaneDidReceiveQuery",
        [id, category, context](QuorvaneDelegate& delegate, QVTaggedData data) {
            delegate.quorvaneDidReceiveQuery(QVQuery(id, category, std::move(data)), context);
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
    switch (body->messageType()) {
        case CommandAcknowledgementSubtype::NONE:
            log_.error(readOperation, "Received command ack with unknown message type");
            return;
        case CommandAcknowledgementSubtype::Acknowledge:
            log_.debug(readOperation, "Received CommandAcknowledgement");
            if (auto entry = pendingCommand(*acknowledging); entry != pendingCommands_.end()) {
                auto resolver = entry->second.resolver;
                pendingCommands_.erase(entry);
                resolver.fulfill();
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
            failCommand(*acknowledging, std::nullopt,
                        std::make_exception_ptr(QVError(std::move(*text), response->statusCode())));
            return;
        }
    }
}

void QuorvaneClientImpl::receiveQueryResponse(Received message, const DataChannelMessageView& view) {
    auto body = view.queryResponse();
    auto respondingto = body ? body->respondingto() : std::nullopt;
    auto part = body ? body->queryResponseData() : std::nullopt;
    auto payload = part ? locatePayload(*message.bytes, part->data()) : std::nullopt;
    auto entry = respondingto && payload ? pendingQueries_.find(*respondingto) : pendingQueries_.end();
    if (entry == pendingQueries_.end()) {
        // The bytes are only read from here on: the host's report of them may share them at once.
        reportReceived(message);
    }
    if (!respondingto) {
        log_.warn(readOperation, "Couldn't parse QueryResponse");
        return;
    }
    switch (body->messageType()) {
        case QueryResponseSubtype::NONE:
            log_.error(readOperation, "Received query response with unknown message type");
            return;
        case QueryResponseSubtype::QueryResponseData: {
            if (!payload) {
                log_.warn(readOperation, "Couldn't parse QueryResponseData");
                return;
            }
            log_.debug(readOperation, "Received QueryResponseData");
            if (entry == pendingQueries_.end()) return;
            // The part is lent to the host's handler out of the message itself, here, in order with
            // the query's time-out; the host's report of the whole message follows once it is back.
            const bool isLast = part->isLastMessage();
            auto receipt = entry->second.receipt;
            bool handled = true;  // false once the release has shut the handler out
            lendTaggedData(*message.bytes, std::move(*payload), [&](const QVTaggedData& data) {
                if (!receipt.received()) return;
                handled = reports_.run([&] { runHostCode("onReceived", [&] { receipt.received()(data, isLast); }); });
            });
            reportReceived(std::move(message));
            // A part the handler never saw settles nothing: the release rejects the query.
            if (!handled) return;
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
        case DataChannelMessageSubtype::Command:
            failCommand(*messageId, std::nullopt, std::make_exception_ptr(QuorvaneError::failedToSend("command")));
            break;
        case DataChannelMessageSubtype::Query:
            failQuery(*messageId, std::make_exception_ptr(QuorvaneError::failedToSend("query")));
            break;
        default: break;
    }
}

}  // namespace quorvane
