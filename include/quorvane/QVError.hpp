#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorvane/QVErrorResponse.hpp"

namespace quorvane {

/// The library's general error: a message and a status code. Its description is the message.
class QVError : public QVErrorResponse {
public:
    /// The kind of received message whose handler failed.
    enum class MessageType { command, query };

    explicit QVError(std::string message, std::uint32_t statusCode = 0)
        : message_(std::move(message)), statusCode_(statusCode) {}

    const std::string& message() const override { return message_; }
    std::uint32_t statusCode() const override { return statusCode_; }
    const std::string& errorDescription() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    /// Stands for a failure inside the host's own handler of a received command or query: status
    /// code 500, message "Runtime error occurred in user defined <type> response callback".
    static QVError getSystemDefaultError(MessageType type);

private:
    std::string message_;
    std::uint32_t statusCode_;
};

/// "command" or "query".
std::string_view rawValue(QVError::MessageType type);

/// The message type whose raw text is exactly `raw`, else none.
std::optional<QVError::MessageType> qvErrorMessageTypeFromRawValue(std::string_view raw);

}  // namespace quorvane
