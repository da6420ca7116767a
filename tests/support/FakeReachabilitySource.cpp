#include "support/FakeReachabilitySource.hpp"

#include "support/Queues.hpp"

namespace quorvane::testing {

void FakeReachabilitySource::report(ReachabilityFlags flags) {
    std::lock_guard lock(mutex_);
    current_ = flags;
    if (callback_ && queue_) queue_->async([callback = callback_, flags] { callback(flags); });
}

void FakeReachabilitySource::drain() {
    DispatchQueuePtr queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_;
    }
    if (queue) testing::drain(queue);
}

int FakeReachabilitySource::setCallbackCount() const {
    std::lock_guard lock(mutex_);
    return setCallbackCount_;
}

bool FakeReachabilitySource::isWatching() const {
    std::lock_guard lock(mutex_);
    return callback_ && queue_;
}

bool FakeReachabilitySource::setCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    if (callback && failSetCallback_) return false;
    if (callback) ++setCallbackCount_;
    callback_ = std::move(callback);
    return true;
}

bool FakeReachabilitySource::setDispatchQueue(DispatchQueuePtr queue) {
    std::lock_guard lock(mutex_);
    queue_ = std::move(queue);
    return true;
}

std::optional<ReachabilityFlags> FakeReachabilitySource::readFlags() {
    std::lock_guard lock(mutex_);
    if (failReads_) return std::nullopt;
    return current_;
}

}  // namespace quorvane::testing
