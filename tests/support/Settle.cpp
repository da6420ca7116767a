#include "support/Settle.hpp"

#include <thread>

#include "support/Queues.hpp"

namespace quorvane::testing {

void settle(const std::vector<DispatchQueuePtr>& queues, const std::function<std::uint64_t()>& progress) {
    constexpr int stableRounds = 4;
    std::uint64_t last = progress();
    for (int stable = 0; stable < stableRounds;) {
        for (const auto& queue : queues) drain(queue);
        drain(DispatchQueue::main());
        std::this_thread::yield();
        const std::uint64_t now = progress();
        stable = now == last ? stable + 1 : 0;
        last = now;
    }
}

}  // namespace quorvane::testing
