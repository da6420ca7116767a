#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quorvane {

/// What a command or query answers with when it fails. `what()` is the error's description.
class QVErrorResponse : public std::exception {
public:
    virtual const std::string& message() const = 0;
    virtual std::uint32_t statusCode() const = 0;
};

}  // namespace quorvane
