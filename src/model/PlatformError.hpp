#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

/// A failure reported the way the platform reports its own: an error domain (often the name of
/// the raising class, possibly empty), a code and a localized description, which is `what()`.
class PlatformError : public std::runtime_error {
public:
    PlatformError(std::string domain, int code, const std::string& localizedDescription)
        : std::runtime_error(localizedDescription), domain_(std::move(domain)), code_(code) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

private:
    std::string domain_;
    int code_;
};

}  // namespace quorvane
