#pragma once

#include <functional>

#include "quorvane/QVErrorResponse.hpp"
#include "quorvane/QVTaggedData.hpp"

namespace quorvane {

/// Handed to the host with a received query: the host answers through it, in one or several
/// parts, or fails it. It keeps no state: each call is forwarded at once, on the caller's thread.
class QVQueryContext {
public:
    using MessageHandler = std::function<void(const QVTaggedData& data, bool isLastMessage)>;
    using ErrorHandler = std::function<void(const QVErrorResponse& error)>;

    QVQueryContext(MessageHandler messageHandler, ErrorHandler errorHandler)
        : messageHandler(std::move(messageHandler)), errorHandler(std::move(errorHandler)) {}

    /// Sends one part of the answer; `isLastMessage` tells whether more parts follow.
    void respond(const QVTaggedData& data, bool isLastMessage) const {
        if (messageHandler) messageHandler(data, isLastMessage);
    }
    /// Fails the query.
    void error(const QVErrorResponse& error) const {
        if (errorHandler) errorHandler(error);
    }

    MessageHandler messageHandler;
    ErrorHandler errorHandler;
};

}  // namespace quorvane
