#include "quorvane/Promise.hpp"

#include "async/Clock.hpp"

namespace quorvane {

bool isCancellation(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const PromiseCancelledError&) {
        return true;
    } catch (...) {
        return false;
    }
}

Guarantee<void> after(double seconds) {
    static const auto timerQueue = DispatchQueue::create("quorvane.after");
    auto pending = Guarantee<void>::pending();
    Clock::current()->scheduleDetached(timerQueue, seconds, [r = pending.resolver] { r.fulfill(); });
    return pending.guarantee;
}

}  // namespace quorvane
