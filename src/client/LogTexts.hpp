#pragma once

#include <exception>
#include <string>

namespace quorvane {

/// The description of `error` as log lines show it: what() of a std::exception, else
/// "Unknown error".
std::string errorText(const std::exception_ptr& error);

/// A percentage in the shortest decimal form that reads back as the same float, with at least one
/// digit after the point: 25.0, 33.333336, 100.0.
std::string formatPercent(float percent);

}  // namespace quorvane
