#include "support/Settle.hpp"

#include <chrono>
#include <thread>

#include "support/Queues.hpp"

namespace quorvane::testing {

void settle(const std::vector<DispatchQueuePtr>& queues, const std::function<std::uint64_t()>& progress) {
    // Some hops go through queues the test cannot reach (a wrapper's own queue), so quiet must
    // also last a little while on the real clock, not just a few rounds; between rounds the
    // caller's thread sleeps rather than spins.
    constexpr int stableRounds = 4;
    constexpr auto quietFor = std::chrono::milliseconds(25);
    constexpr auto betweenRounds = std::chrono::milliseconds(1);
    std::uint64_t last = progress();
    auto lastChange = std::chrono::steady_clock::now();
    for (int stable = 0; stable < stableRounds || std::chrono::steady_clock::now() - lastChange < quietFor;) {
        for (const auto& queue : queues) drain(queue);
        drain(DispatchQueue::main());
        std::this_thread::sleep_for(betweenRounds);
        const std::uint64_t now = progress();
        if (now == last) {
            ++stable;
        } else {
            stable = 0;
            last = now;
            lastChange = std::chrono::steady_clock::now();
        }
    }
}

}  // namespace quorvane::testing
