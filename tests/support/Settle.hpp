#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "quorvane/DispatchQueue.hpp"

namespace quorvane::testing {

/// Lets work that hops between queues run out: drains every queue of `queues` (and the main
/// queue) in rounds, until `progress` has read the same for several rounds in a row. `progress`
/// should count what the work produces (frames sent, reports heard).
void settle(const std::vector<DispatchQueuePtr>& queues, const std::function<std::uint64_t()>& progress);

}  // namespace quorvane::testing
