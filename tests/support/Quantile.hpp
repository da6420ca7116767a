#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quorvane::testing {

/// The value below which the share `q` (0 to 1) of `values` lies; `values` must not be empty.
inline double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

}  // namespace quorvane::testing
