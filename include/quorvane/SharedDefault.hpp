#pragma once

#include <mutex>
#include <utility>

namespace quorvane {

/// A process-wide value that any thread may read and write.
template <class T>
class SharedDefault {
public:
    explicit SharedDefault(T initial) : value_(std::move(initial)) {}
    SharedDefault(const SharedDefault&) = delete;
    SharedDefault& operator=(const SharedDefault&) = delete;

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

}  // namespace quorvane
