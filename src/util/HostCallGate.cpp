#include "util/HostCallGate.hpp"

#include <algorithm>
#include <vector>

namespace quorvane {

namespace {

/// The gates the calling thread is passing through, innermost last.
thread_local std::vector<const HostCallGate*> passingThrough;

}  // namespace

bool HostCallGate::enter() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        ++running_;
    }
    passingThrough.push_back(this);
    return true;
}

void HostCallGate::leave() {
    passingThrough.pop_back();
    std::lock_guard lock(mutex_);
    --running_;
    if (closed_) idle_.notify_all();
}

void HostCallGate::close() {
    const auto own = std::count(passingThrough.begin(), passingThrough.end(), this);
    std::unique_lock lock(mutex_);
    closed_ = true;
    idle_.wait(lock, [&] { return running_ == own; });
}

}  // namespace quorvane
