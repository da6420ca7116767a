#include "quorvane/Errors.hpp"

#include "model/FormatSeconds.hpp"

namespace quorvane {

QuorvaneError::QuorvaneError(Kind kind, std::string title, std::string message, double seconds,
                             std::string description)
    : kind_(kind),
      title_(std::move(title)),
      message_(std::move(message)),
      seconds_(seconds),
      description_(std::move(description)) {}

QuorvaneError QuorvaneError::failedToInitialize(std::string title, std::string message) {
    auto description = "Failed to initialize session with error: " + message;
    return {Kind::failedToInitialize, std::move(title), std::move(message), 0, std::move(description)};
}

QuorvaneError QuorvaneError::notImplemented(std::string message) {
    auto description = "Functionality needs to be implemented: " + message;
    return {Kind::notImplemented, "Functionality Not Implemented", std::move(message), 0, std::move(description)};
}

QuorvaneError QuorvaneError::commandTimedOut(double seconds) {
    return {Kind::commandTimedOut, "Sending Command Timed Out", "", seconds,
            "Timeout (" + formatSeconds(seconds) + " seconds) hit before receiving a response to this command"};
}

QuorvaneError QuorvaneError::queryTimedOut(double seconds) {
    return {Kind::queryTimedOut, "Sending Query Timed Out", "", seconds,
            "Timeout (" + formatSeconds(seconds) + " seconds) hit before receiving a response to this query"};
}

QuorvaneError QuorvaneError::failedToSend(std::string messageType) {
    auto description = "Failed to send " + messageType;
    return {Kind::failedToSend, "Failed to Send Message", std::move(messageType), 0, std::move(description)};
}

QuorvaneError QuorvaneError::networkRequestFailed(std::string title, std::string message) {
    auto description = message;
    return {Kind::networkRequestFailed, std::move(title), std::move(message), 0, std::move(description)};
}

QuorvaneError QuorvaneError::invalidUsage() {
    return {Kind::invalidUsage, "Invalid Usage", "", 0, "Invalid usage of the SDK"};
}

namespace {
std::string describe(WebRTCError::Kind kind, const std::string& operation) {
    switch (kind) {
        case WebRTCError::Kind::timeout: return operation + " timed out";
        case WebRTCError::Kind::notInitialized: return "WebRTC client is not initialized";
        case WebRTCError::Kind::connectionReset: return "Resetting connection";
        case WebRTCError::Kind::cannotFormData: return "Error trying to create data to send over data channel";
        case WebRTCError::Kind::channelClosed: return "The data channel is closed";
        case WebRTCError::Kind::failedToSendData: return "Could not send data over data channel";
        case WebRTCError::Kind::checksumFailed:
            return "Checksum in header of received message does not match calculated checksum";
    }
    return {};
}
}  // namespace

WebRTCError::WebRTCError(Kind kind, std::string operation)
    : kind_(kind), operation_(std::move(operation)), description_(describe(kind_, operation_)) {}

WebRTCError WebRTCError::timeout(std::string operation) { return WebRTCError(Kind::timeout, std::move(operation)); }

}  // namespace quorvane
