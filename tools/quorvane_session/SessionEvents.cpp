#include "SessionEvents.hpp"

#include <chrono>

namespace quorvane::session {

void SessionEvents::update(const std::function<void(State&)>& change) {
    {
        std::lock_guard lock(mutex_);
        change(state_);
    }
    changed_.notify_all();
}

bool SessionEvents::waitFor(const std::function<bool(const State&)>& condition, double seconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return condition(state_); });
}

SessionEvents::State SessionEvents::snapshot() const {
    std::lock_guard lock(mutex_);
    return state_;
}

}  // namespace quorvane::session
