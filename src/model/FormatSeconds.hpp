#pragma once

#include <string>

namespace quorvane {

/// A double as the shortest plain decimal that reads back as the same value, whole numbers with a
/// trailing ".0" (5 -> "5.0", 2.5 -> "2.5", 100000 -> "100000.0"), as time-out texts print it.
std::string formatSeconds(double seconds);

}  // namespace quorvane
