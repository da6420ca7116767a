// The send road of QuorvaneClientImpl: notifications, commands, queries, the answers to received
// commands and queries, and the convenience senders.

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <utility>

#include "async/Clock.hpp"
#include "client/LogTexts.hpp"
#include "client/MessageIds.hpp"
#include "client/QuorvaneClientImpl.hpp"
#include "client/SendLimits.hpp"
#include "formats/DataChannelMessageWriter.hpp"
#include "formats/FbAckOn.hpp"
#include "log/SessionMetrics.hpp"
#include "util/Utf8.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "util/BackgroundTimer.hpp"

namespace quorvane {

namespace {

template <class E>
Promise<void> failed(const E& error) {
    return Promise<void>::error(std::make_exception_ptr(error));
}

template <class E>
QVQueryReceipt failedReceipt(QVQueryReceipt receipt, const E& error) {
    receipt.completion.resolver.reject(error);
    return receipt;
}

bool fits(const QVTaggedData& data) { return fitsInOneMessage(data.tag().size(), data.data().size()); }

/// True when `json` holds a number that is not finite anywhere inside it.
bool holdsNonFiniteNumber(const nlohmann::json& json) {
    if (json.is_number_float()) return !std::isfinite(json.get<double>());
    if (!json.is_structured()) return false;
    for (const auto& element : json) {
        if (holdsNonFiniteNumber(element)) return true;
    }
    return false;
}

}  // namespace

// --- The common road -----------------------------------------------------------------------------

Promise<void> QuorvaneClientImpl::send(const std::shared_ptr<TransportLayer>& transport, std::uint16_t category,
                                       Build build, std::function<void(const std::string& id)> built) {
    auto result = Promise<void>::pending();
    internalQueue_->async([self = shared_from_this(), transport, category, build = std::move(build),
                           built = std::move(built), resolver = result.resolver] {
        self->buildAndHandOver(transport, category, build, built).pipeTo(resolver);
    });
    return result.promise;
}

Promise<void> QuorvaneClientImpl::buildAndHandOver(const std::shared_ptr<TransportLayer>& transport,
                                                   std::uint16_t category, const Build& build,
                                                   const std::function<void(const std::string& id)>& built) {
    try {
        const auto id = makeMessageId_();
        auto bytes = build(id, messageTimestamp(Clock::current()->now()));
        if (built) built(id);
        return transport->sendMessage(std::move(bytes), category, sessionMetrics_);
    } catch (...) {
        return Promise<void>::error(std::current_exception());
    }
}

// --- Notifications and commands ------------------------------------------------------------------

Promise<void> QuorvaneClientImpl::sendNotification(QVNotification notification) {
    auto current = transport();
    if (!current) return failed(WebRTCError::notInitialized());
    if (!fits(notification.data())) return failed(WebRTCError::cannotFormData());
    log_.debug("sendNotification", "Sending notification");
    const auto category = notification.category();
    return send(current, category, [notification = std::move(notification)](const std::string& id, std::uint32_t time) {
        const auto& data = notification.data();
        return DataChannelMessageWriter::notification(id, time, notification.category(), data.tag(), data.data());
    });
}

Promise<void> QuorvaneClientImpl::sendCommand(QVCommand command, double timeout) {
    auto [current, session] = sending();
    if (!current) return failed(WebRTCError::notInitialized());
    const auto wait = usableTimeout(timeout);
    if (!wait) return failed(QuorvaneError::invalidUsage());
    if (!fits(command.data())) return failed(WebRTCError::cannotFormData());
    log_.debug("sendCommand", "Sending command");

    auto answer = Promise<void>::pending();
    const auto category = command.category();
    auto build = [command = std::move(command)](const std::string& id, std::uint32_t time) {
        const auto& data = command.data();
        return DataChannelMessageWriter::command(id, time, command.category(), fbAckOn(command.acknowledgeOn()),
                                                 data.tag(), data.data());
    };
    // Runs on the internal queue once the message is built: the time-out runs from then on. The
    // entry holds its timer, so whatever settles the command stops its time-out too.
    auto sent = std::make_shared<std::pair<std::string, std::uint64_t>>();  // the entry, once built
    // `session = session`: clang does not yet capture a structured binding by name.
    auto built = [this, resolver = answer.resolver, wait = *wait, timeout, session = session,
                  sent](const std::string& id) {
        const auto serial = nextSerial_++;
        *sent = {id, serial};
        const bool untimed = waitsForever(wait);
        auto& entry = pendingCommands_.emplace(id, PendingCommand{resolver, serial, session, untimed})->second;
        if (untimed) return;
        std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
        entry.timer = std::make_unique<BackgroundTimer>(internalQueue_, wait, false, [weak, id, serial, timeout] {
            if (auto self = weak.lock()) {
                self->failCommand(id, serial, std::make_exception_ptr(QuorvaneError::commandTimedOut(timeout)));
            }
        });
    };
    // The answer settles the command, and so does its time-out, also while the hand-over waits;
    // a failed hand-over settles it too, unless it is settled already.
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    send(current, category, std::move(build), std::move(built))
        .catchError(
            [weak, sent, resolver = answer.resolver](const std::exception_ptr& error) {
                if (auto self = weak.lock()) self->failCommand(sent->first, sent->second, error);
                resolver.reject(error);  // also when it was never built
            },
            internalQueue_);
    return answer.promise;
}

QuorvaneClientImpl::PendingCommands::iterator QuorvaneClientImpl::pendingCommand(const std::string& id,
                                                                                 std::optional<std::uint64_t> serial) {
    auto [first, last] = pendingCommands_.equal_range(id);
    if (!serial) return first == last ? pendingCommands_.end() : std::prev(last);
    auto entry = std::find_if(first, last, [&](const auto& pending) { return pending.second.serial == *serial; });
    return entry == last ? pendingCommands_.end() : entry;
}

void QuorvaneClientImpl::failCommand(const std::string& id, std::optional<std::uint64_t> serial,
                                     const std::exception_ptr& error) {
    auto entry = pendingCommand(id, serial);
    if (entry == pendingCommands_.end()) return;
    auto resolver = entry->second.resolver;
    pendingCommands_.erase(entry);
    resolver.reject(error);
}

Promise<void> QuorvaneClientImpl::sendCommandAcknowledgement(const std::string& acknowledging, std::uint16_t category,
                                                             const QVErrorResponse* error) {
    auto current = transport();
    if (!current) return failed(WebRTCError::notInitialized());
    log_.debug("sendCommandAcknowledgement", "Sending command acknowledgement");
    Build build;
    if (error) {
        build = [acknowledging, status = error->statusCode(), message = error->message()](const std::string& id,
                                                                                          std::uint32_t time) {
            return DataChannelMessageWriter::commandError(id, time, acknowledging, status, message);
        };
    } else {
        build = [acknowledging](const std::string& id, std::uint32_t time) {
            return DataChannelMessageWriter::commandAcknowledgement(id, time, acknowledging);
        };
    }
    return buildAndHandOver(current, category, build, {});
}

// --- Queries -------------------------------------------------------------------------------------

QVQueryReceipt QuorvaneClientImpl::sendQuery(QVQuery query, double timeout, QVQueryReceipt::Handler onReceived) {
    auto [current, session] = sending();
    if (!current) return QVQueryReceipt({}, true);
    QVQueryReceipt receipt(std::move(onReceived));
    const auto wait = usableTimeout(timeout);
    if (!wait) return failedReceipt(receipt, QuorvaneError::invalidUsage());
    if (!fits(query.data())) return failedReceipt(receipt, WebRTCError::cannotFormData());

    const auto category = query.category();
    auto build = [query = std::move(query)](const std::string& id, std::uint32_t time) {
        return DataChannelMessageWriter::query(id, time, query.category(), query.data().tag(), query.data().data());
    };
    auto sentId = std::make_shared<std::string>();
    auto built = [this, receipt, wait = *wait, timeout, session = session, sentId](const std::string& id) {
        *sentId = id;
        auto& entry =
            pendingQueries_.insert_or_assign(id, PendingQuery{receipt, wait, timeout, session, waitsForever(wait)})
                .first->second;
        log_.debug("sendQuery", "Sending query");
        armQueryTimer(id, entry);
    };
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    send(current, category, std::move(build), std::move(built))
        .catchError(
            [weak, sentId, receipt](const std::exception_ptr& error) {
                if (auto self = weak.lock()) self->failQuery(*sentId, error);
                receipt.completion.resolver.reject(error);  // also when it was never built
            },
            internalQueue_);
    return receipt;
}

void QuorvaneClientImpl::armQueryTimer(const std::string& id, PendingQuery& query) {
    if (query.untimed) return;  // its session's end settles it
    const auto generation = ++query.timerGeneration;
    std::weak_ptr<QuorvaneClientImpl> weak = weak_from_this();
    // Replacing the timer releases the previous one, which then never fires.
    query.timer = std::make_shared<BackgroundTimer>(internalQueue_, query.wait, false, [weak, id, generation] {
        if (auto self = weak.lock()) self->queryExpired(id, generation);
    });
}

void QuorvaneClientImpl::queryExpired(const std::string& id, std::uint64_t timerGeneration) {
    auto entry = pendingQueries_.find(id);
    if (entry == pendingQueries_.end() || entry->second.timerGeneration != timerGeneration) return;
    const auto description = QuorvaneError::queryTimedOut(entry->second.timeout).errorDescription();
    failQuery(id, std::make_exception_ptr(QVError(description.empty() ? "Timed out" : description, 500)));
}

void QuorvaneClientImpl::failQuery(const std::string& id, const std::exception_ptr& error) {
    auto entry = pendingQueries_.find(id);
    if (entry == pendingQueries_.end()) return;
    auto receipt = entry->second.receipt;
    pendingQueries_.erase(entry);
    receipt.completion.resolver.reject(error);
    log_.error("sendQuery", "Query failed: " + escapedText(errorText(error)));
}

Promise<void> QuorvaneClientImpl::sendQueryResponse(const std::string& respondingto, std::uint16_t category,
                                                    const QVTaggedData& data, bool isLastMessage,
                                                    const QVErrorResponse* error) {
    auto current = transport();
    if (!current) return failed(WebRTCError::notInitialized());
    if (!error && !fits(data)) return failed(WebRTCError::cannotFormData());
    log_.debug("sendQueryResponse", "Sending query response");
    if (error) {
        return send(current, category,
                    [respondingto, status = error->statusCode(), message = error->message()](const std::string& id,
                                                                                             std::uint32_t time) {
                        return DataChannelMessageWriter::queryError(id, time, respondingto, status, message);
                    });
    }
    // Written here, on the host's thread, while the host's bytes are there to read: the message
    // is the only copy of them. The hand-over takes its turn on the internal queue.
    Bytes bytes;
    try {
        bytes = DataChannelMessageWriter::queryResponse(makeMessageId_(), messageTimestamp(Clock::current()->now()),
                                                        respondingto, data.tag(), data.data(), isLastMessage);
    } catch (...) {
        return Promise<void>::error(std::current_exception());
    }
    auto result = Promise<void>::pending();
    internalQueue_->async([self = shared_from_this(), current, category, bytes = std::move(bytes),
                           resolver = result.resolver]() mutable {
        current->sendMessage(std::move(bytes), category, self->sessionMetrics_).pipeTo(resolver);
    });
    return result.promise;
}

// --- Convenience senders -------------------------------------------------------------------------

Promise<void> QuorvaneClientImpl::sendBytes(std::vector<std::uint8_t> data, std::string tag, std::uint16_t category) {
    return sendNotification(QVNotification(category, QVTaggedData(std::move(tag), std::move(data))));
}

Promise<void> QuorvaneClientImpl::sendText(const std::string& text, std::string tag, std::uint16_t category) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (!isValidUtf8(bytes)) return failed(QuorvaneError::invalidUsage());
    return sendBytes(std::move(bytes), std::move(tag), category);
}

Promise<void> QuorvaneClientImpl::sendChat(const std::string& text, std::string tag, std::uint16_t category) {
    return sendText(text, std::move(tag), category);
}

Promise<void> QuorvaneClientImpl::sendLog(const std::string& text, std::string tag, std::uint16_t category) {
    return sendText(text, std::move(tag), category);
}

Promise<void> QuorvaneClientImpl::sendJson(const nlohmann::json* json, std::string tag, std::uint16_t category) {
    if (!json || holdsNonFiniteNumber(*json)) return failed(WebRTCError::cannotFormData());
    std::string text;
    try {
        text = json->dump();  // throws for text that is not UTF-8
    } catch (const nlohmann::json::exception&) {
        return failed(WebRTCError::cannotFormData());
    }
    return sendBytes(std::vector<std::uint8_t>(text.begin(), text.end()), std::move(tag), category);
}

}  // namespace quorvane
