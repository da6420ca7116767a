#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

/// Errors of the session client and of the REST service as the host sees them. `what()` is the
/// error's description.
class QuorvaneError : public std::exception {
public:
    enum class Kind {
        failedToInitialize,
        notImplemented,
        commandTimedOut,
        queryTimedOut,
        failedToSend,
        networkRequestFailed,
        invalidUsage,
    };

    static QuorvaneError failedToInitialize(std::string title, std::string message);
    static QuorvaneError notImplemented(std::string message);
    static QuorvaneError commandTimedOut(double seconds);
    static QuorvaneError queryTimedOut(double seconds);
    static QuorvaneError failedToSend(std::string messageType);
    static QuorvaneError networkRequestFailed(std::string title, std::string message);
    static QuorvaneError invalidUsage();

    Kind kind() const { return kind_; }
    /// The description: never absent, possibly empty.
    const std::string& errorDescription() const { return description_; }
    /// A short title.
    const std::string& title() const { return title_; }
    /// The associated message (failedToInitialize, notImplemented, networkRequestFailed), the
    /// message type (failedToSend), else empty.
    const std::string& message() const { return message_; }
    /// The time-out in seconds (commandTimedOut, queryTimedOut), else 0.
    double seconds() const { return seconds_; }

    const char* what() const noexcept override { return description_.c_str(); }

private:
    QuorvaneError(Kind kind, std::string title, std::string message, double seconds, std::string description);
    Kind kind_;
    std::string title_;
    std::string message_;
    double seconds_;
    std::string description_;
};

/// Errors of the transport: peer connection, data channel, chunking and sending. `what()` is the
/// error's description.
class WebRTCError : public std::exception {
public:
    enum class Kind {
        timeout,
        notInitialized,
        connectionReset,
        cannotFormData,
        channelClosed,
        failedToSendData,
        checksumFailed,
    };

    static WebRTCError timeout(std::string operation);
    static WebRTCError notInitialized() { return WebRTCError(Kind::notInitialized); }
    static WebRTCError connectionReset() { return WebRTCError(Kind::connectionReset); }
    static WebRTCError cannotFormData() { return WebRTCError(Kind::cannotFormData); }
    static WebRTCError channelClosed() { return WebRTCError(Kind::channelClosed); }
    static WebRTCError failedToSendData() { return WebRTCError(Kind::failedToSendData); }
    static WebRTCError checksumFailed() { return WebRTCError(Kind::checksumFailed); }

    Kind kind() const { return kind_; }
    /// What timed out (timeout only), else empty.
    const std::string& operation() const { return operation_; }
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    explicit WebRTCError(Kind kind, std::string operation = {});
    Kind kind_;
    std::string operation_;
    std::string description_;
};

}  // namespace quorvane
