#include "support/Queues.hpp"

namespace quorvane::testing {

void drain(const DispatchQueuePtr& queue) { queue->sync([] {}); }

}  // namespace quorvane::testing
