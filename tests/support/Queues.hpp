#pragma once

#include "quorvane/DispatchQueue.hpp"

namespace quorvane::testing {

/// Waits until everything posted to `queue` so far has run.
void drain(const DispatchQueuePtr& queue);

}  // namespace quorvane::testing
