#pragma once

#include <string>

namespace quorvane {

/// A percentage in the shortest decimal form that reads back as the same float, with at least one
/// digit after the point: 25.0, 33.333336, 100.0.
std::string formatPercent(float percent);

}  // namespace quorvane
