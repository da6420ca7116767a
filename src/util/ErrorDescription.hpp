#pragma once

#include <exception>
#include <string>

namespace quorvane {

/// The text of an error carried by a promise: what() of a standard exception, else a fixed text.
std::string errorDescription(const std::exception_ptr& error);

}  // namespace quorvane
