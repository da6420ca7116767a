#pragma once

#include <stdexcept>
#include <string>

namespace quorvane::rtc {

/// A failure reported by WebRTC, passed on as it came: `what()` is WebRTC's message and `type()`
/// the name of its error type (for example "INVALID_STATE" or "SYNTAX_ERROR").
class RtcError : public std::runtime_error {
public:
    RtcError(std::string type, const std::string& message)
        : std::runtime_error(message), type_(std::move(type)) {}

    const std::string& type() const { return type_; }

private:
    std::string type_;
};

}  // namespace quorvane::rtc
