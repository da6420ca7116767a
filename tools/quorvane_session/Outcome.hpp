#pragma once

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <string>

#include "quorvane/Promise.hpp"

namespace quorvane::session {

/// How a promise ended, seen from a thread that waits for it with a limit.
struct Outcome {
    bool settled = false;      ///< false: still pending when the wait ended
    std::exception_ptr error;  ///< null when fulfilled
    double seconds = 0;        ///< time waited

    bool fulfilled() const { return settled && !error; }
    /// "fulfilled", "still pending after N s" or the error's description.
    std::string describe() const;
};

/// Waits at most `seconds` for `promise` to settle.
template <class T>
Outcome waitFor(const Promise<T>& promise, double seconds) {
    const auto start = std::chrono::steady_clock::now();
    auto signal = std::make_shared<std::promise<void>>();
    auto settled = signal->get_future();
    (void)promise.ensure([signal] { signal->set_value(); });
    Outcome outcome;
    outcome.settled = settled.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.settled) outcome.error = promise.error();
    return outcome;
}

}  // namespace quorvane::session
