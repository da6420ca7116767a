#pragma once

#include <chrono>
#include <thread>

namespace quorvane::testing {

/// Waits in real time until `done` holds; false once `timeout` has passed first.
template <class Done>
inline bool eventually(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace quorvane::testing
