#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "quorvane/DispatchQueue.hpp"
#include "util/Uuid.hpp"

namespace quorvane {

/// A value whose every read and write runs on a serial queue of its own, labelled
/// "atomic.queue." and a UUID. Holders share one Atomic through a std::shared_ptr.
///
/// None of these may be called from a change running on this same value's queue (the queue's
/// sync throws std::logic_error then).
template <class T>
class Atomic {
public:
    explicit Atomic(T value) : queue_(DispatchQueue::create("atomic.queue." + makeUuid())), value_(std::move(value)) {}
    Atomic(const Atomic&) = delete;
    Atomic& operator=(const Atomic&) = delete;

    /// A copy of the value.
    T wrappedValue() const {
        std::optional<T> copy;
        queue_->sync([&] { copy.emplace(value_); });
        return std::move(*copy);
    }

    void setWrappedValue(T value) {
        queue_->sync([&] { value_ = std::move(value); });
    }

    /// Changes the value in place: reads it, applies `change` (which takes T&) and writes it back
    /// in one hold of the queue, so no other write can land in between. Returns what `change`
    /// returns, for example the counter value it took: `ids.update([](int& id) { return id++; })`.
    template <class F>
    auto update(F&& change) -> std::invoke_result_t<F, T&> {
        using Result = std::invoke_result_t<F, T&>;
        if constexpr (std::is_void_v<Result>) {
            queue_->sync([&] { change(value_); });
        } else {
            std::optional<Result> result;
            queue_->sync([&] { result.emplace(change(value_)); });
            return std::move(*result);
        }
    }

    const std::string& label() const { return queue_->label(); }

private:
    const DispatchQueuePtr queue_;
    T value_;
};

}  // namespace quorvane
