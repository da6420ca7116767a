#pragma once

// Promises and guarantees: the result of every asynchronous operation of the library.
//
// A promise is settled once, by its resolver: fulfilled with a value or rejected with an error
// (a std::exception_ptr). Later settlements are ignored. Continuations (then, map, done,
// catchError, recover, ensure) always run asynchronously on the queue they name (the main queue
// when they name none), in the order they were registered, also when the promise was already
// settled. A continuation that throws rejects the promise it returns.

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "quorvane/DispatchQueue.hpp"

namespace quorvane {

/// The error that cancels a chain: catchError handlers do not see it.
class PromiseCancelledError : public std::runtime_error {
public:
    PromiseCancelledError() : std::runtime_error("The operation was cancelled") {}
};

/// True when `error` is (or derives from) PromiseCancelledError.
bool isCancellation(const std::exception_ptr& error);

template <class T> class Promise;
template <class T> class Guarantee;
template <class T> class Resolver;

namespace detail {

/// What a promise of T keeps: T itself, or an empty value for a promise of nothing.
template <class T>
using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

template <class F, class T>
decltype(auto) invokeWith(F& f, const Stored<T>& value) {
    if constexpr (std::is_void_v<T>) {
        return f();
    } else {
        return f(value);
    }
}

template <class F, class T>
using ResultOf = decltype(invokeWith<F, T>(std::declval<F&>(), std::declval<const Stored<T>&>()));

template <class P> struct PromiseValue;
template <class U> struct PromiseValue<Promise<U>> { using type = U; };
template <class U> struct PromiseValue<Guarantee<U>> { using type = U; };

/// Lets the free functions of this header reach a promise's state.
struct Access {
    template <class P>
    static const auto& state(const P& promise) { return promise.state_; }
};

inline const DispatchQueuePtr& orMain(const DispatchQueuePtr& queue) {
    return queue ? queue : DispatchQueue::main();
}

template <class T>
class State : public std::enable_shared_from_this<State<T>> {
public:
    using Run = std::function<void(const State&)>;

    /// Settles once; returns false when already settled.
    bool settle(std::optional<Stored<T>> value, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (settled_) return false;
        settled_ = true;
        value_ = std::move(value);
        error_ = std::move(error);
        // Posted under the lock so that a continuation registered meanwhile cannot overtake.
        for (auto& [queue, run] : waiting_) {
            if (queue) {
                queue->async([self = this->shared_from_this(), run = std::move(run)] { run(*self); });
            } else {
                run(*this);
            }
        }
        waiting_.clear();
        settledSignal_.notify_all();
        return true;
    }

    /// Runs `run` on `queue` once settled (inline on the settling thread when queue is null:
    /// for internal forwarding only). `run` gets the state rather than holding it, so that a
    /// pending promise and its continuations do not keep each other alive.
    void subscribe(DispatchQueuePtr queue, Run run) {
        std::unique_lock lock(mutex_);
        if (!settled_) {
            waiting_.emplace_back(std::move(queue), std::move(run));
        } else if (queue) {
            queue->async([self = this->shared_from_this(), run = std::move(run)] { run(*self); });
        } else {
            lock.unlock();
            run(*this);
        }
    }

    bool isSettled() const {
        std::lock_guard lock(mutex_);
        return settled_;
    }

    /// Blocks until settled.
    void wait() const {
        std::unique_lock lock(mutex_);
        settledSignal_.wait(lock, [this] { return settled_; });
    }

    // Read only once settled: settled values never change.
    const std::optional<Stored<T>>& value() const { return value_; }
    const std::exception_ptr& error() const { return error_; }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable settledSignal_;
    bool settled_ = false;
    std::optional<Stored<T>> value_;
    std::exception_ptr error_;
    std::vector<std::pair<DispatchQueuePtr, Run>> waiting_;
};

}  // namespace detail

/// Settles its promise. Thread-safe; the first settlement wins and later ones return false.
template <class T>
class Resolver {
public:
    explicit Resolver(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}

    template <class U = T, std::enable_if_t<!std::is_void_v<U>, int> = 0>
    bool fulfill(U value) const { return state_->settle(std::move(value), nullptr); }

    template <class U = T, std::enable_if_t<std::is_void_v<U>, int> = 0>
    bool fulfill() const { return state_->settle(std::monostate{}, nullptr); }

    bool reject(std::exception_ptr error) const { return state_->settle(std::nullopt, std::move(error)); }

    template <class E, std::enable_if_t<std::is_base_of_v<std::exception, E>, int> = 0>
    bool reject(const E& error) const { return reject(std::make_exception_ptr(error)); }

    bool isPending() const { return !state_->isSettled(); }

private:
    std::shared_ptr<detail::State<T>> state_;
};

/// A promise with the resolver that settles it.
template <class T>
struct PendingPromise {
    Promise<T> promise;
    Resolver<T> resolver;
};

template <class T>
class Promise {
public:
    using Value = T;

    /// A pending promise and its resolver.
    static PendingPromise<T> pending() {
        auto state = std::make_shared<detail::State<T>>();
        return {Promise<T>(state), Resolver<T>(state)};
    }

    /// An already fulfilled promise.
    template <class... Args>
    static Promise<T> value(Args&&... args) {
        auto p = pending();
        p.resolver.fulfill(std::forward<Args>(args)...);
        return p.promise;
    }

    /// An already rejected promise.
    static Promise<T> error(std::exception_ptr error) {
        auto p = pending();
        p.resolver.reject(std::move(error));
        return p.promise;
    }

    /// Continues with another asynchronous step: `f` takes the value and returns a promise.
    template <class F>
    auto then(F f, DispatchQueuePtr queue = nullptr) const {
        using Next = std::decay_t<detail::ResultOf<F, T>>;
        using U = typename detail::PromiseValue<Next>::type;
        auto next = Promise<U>::pending();
        whenSettled(queue, [f = std::move(f), r = next.resolver](const State& s) mutable {
            if (s.error()) return void(r.reject(s.error()));
            try {
                Promise<U> inner = detail::invokeWith<F, T>(f, *s.value());
                inner.pipeTo(r);
            } catch (...) {
                r.reject(std::current_exception());
            }
        });
        return next.promise;
    }

    /// Transforms the value: `f` takes the value and returns the next value (or nothing).
    template <class F>
    auto map(F f, DispatchQueuePtr queue = nullptr) const {
        using U = detail::ResultOf<F, T>;
        auto next = Promise<U>::pending();
        whenSettled(queue, [f = std::move(f), r = next.resolver](const State& s) mutable {
            if (s.error()) return void(r.reject(s.error()));
            try {
                if constexpr (std::is_void_v<U>) {
                    detail::invokeWith<F, T>(f, *s.value());
                    r.fulfill();
                } else {
                    r.fulfill(detail::invokeWith<F, T>(f, *s.value()));
                }
            } catch (...) {
                r.reject(std::current_exception());
            }
        });
        return next.promise;
    }

    /// Consumes the value.
    template <class F>
    Promise<void> done(F f, DispatchQueuePtr queue = nullptr) const {
        return map(std::move(f), std::move(queue));
    }

    /// Handles an error; cancellation is not handed to `f`. The returned guarantee settles once
    /// `f` has run, or at once when there was nothing to handle.
    template <class F>
    Guarantee<void> catchError(F f, DispatchQueuePtr queue = nullptr) const;

    /// Replaces an error by another asynchronous step: `f` takes the error and returns a promise
    /// of the same type.
    template <class F>
    Promise<T> recover(F f, DispatchQueuePtr queue = nullptr) const {
        auto next = pending();
        whenSettled(queue, [f = std::move(f), r = next.resolver](const State& s) mutable {
            if (!s.error()) return void(forwardValue(s, r));
            try {
                Promise<T> inner = f(s.error());
                inner.pipeTo(r);
            } catch (...) {
                r.reject(std::current_exception());
            }
        });
        return next.promise;
    }

    /// Runs `f` whatever the outcome, then passes the outcome on unchanged.
    template <class F>
    Promise<T> ensure(F f, DispatchQueuePtr queue = nullptr) const {
        auto next = pending();
        whenSettled(queue, [f = std::move(f), r = next.resolver](const State& s) mutable {
            try {
                f();
            } catch (...) {
                return void(r.reject(std::current_exception()));
            }
            if (s.error()) {
                r.reject(s.error());
            } else {
                forwardValue(s, r);
            }
        });
        return next.promise;
    }

    bool isPending() const { return !state_->isSettled(); }
    bool isFulfilled() const { return state_->isSettled() && !state_->error(); }
    bool isRejected() const { return state_->isSettled() && state_->error() != nullptr; }

    /// Blocks the calling thread until settled; returns the value or throws the error. Never call
    /// it on a queue that must run to settle this promise.
    T wait() const {
        state_->wait();
        if (state_->error()) std::rethrow_exception(state_->error());
        if constexpr (!std::is_void_v<T>) return *state_->value();
    }

    /// The error of a rejected promise, else null.
    std::exception_ptr error() const { return state_->isSettled() ? state_->error() : nullptr; }

    /// Settles `resolver` as this promise settles, on the settling thread.
    void pipeTo(const Resolver<T>& resolver) const {
        state_->subscribe(nullptr, [resolver](const State& s) {
            if (s.error()) {
                resolver.reject(s.error());
            } else {
                forwardValue(s, resolver);
            }
        });
    }

protected:
    using State = detail::State<T>;
    explicit Promise(std::shared_ptr<State> state) : state_(std::move(state)) {}

    template <class Run>
    void whenSettled(const DispatchQueuePtr& queue, Run run) const {
        state_->subscribe(detail::orMain(queue), std::move(run));
    }

    static void forwardValue(const State& s, const Resolver<T>& r) {
        if constexpr (std::is_void_v<T>) {
            r.fulfill();
        } else {
            r.fulfill(*s.value());
        }
    }

    std::shared_ptr<State> state_;

    template <class> friend class Promise;
    template <class> friend class Guarantee;
    friend struct detail::Access;
};

/// Fulfils its guarantee; a guarantee cannot fail.
template <class T>
class GuaranteeResolver {
public:
    explicit GuaranteeResolver(Resolver<T> r) : resolver_(std::move(r)) {}
    template <class... Args>
    bool fulfill(Args&&... args) const { return resolver_.fulfill(std::forward<Args>(args)...); }

private:
    Resolver<T> resolver_;
};

template <class T>
struct PendingGuarantee;

/// A promise that is always fulfilled, never rejected.
template <class T>
class Guarantee : public Promise<T> {
public:
    static PendingGuarantee<T> pending();

    template <class... Args>
    static Guarantee<T> value(Args&&... args) {
        auto p = pending();
        p.resolver.fulfill(std::forward<Args>(args)...);
        return p.guarantee;
    }

private:
    explicit Guarantee(std::shared_ptr<detail::State<T>> state) : Promise<T>(std::move(state)) {}
    template <class> friend class Promise;
};

template <class T>
struct PendingGuarantee {
    Guarantee<T> guarantee;
    GuaranteeResolver<T> resolver;
};

template <class T>
PendingGuarantee<T> Guarantee<T>::pending() {
    auto state = std::make_shared<detail::State<T>>();
    return {Guarantee<T>(state), GuaranteeResolver<T>(Resolver<T>(state))};
}

template <class T>
template <class F>
Guarantee<void> Promise<T>::catchError(F f, DispatchQueuePtr queue) const {
    auto next = Guarantee<void>::pending();
    whenSettled(queue, [f = std::move(f), r = next.resolver](const State& s) mutable {
        if (s.error() && !isCancellation(s.error())) {
            try {
                f(s.error());
            } catch (...) {
                // Nothing is downstream of a catch handler to hand its own failure to.
            }
        }
        r.fulfill();
    });
    return next.guarantee;
}

/// Runs `f` at once and returns its promise; an exception thrown by `f` becomes a rejection.
template <class F>
auto firstly(F f) {
    using Next = std::decay_t<std::invoke_result_t<F&>>;
    using U = typename detail::PromiseValue<Next>::type;
    try {
        return Promise<U>(f());
    } catch (...) {
        return Promise<U>::error(std::current_exception());
    }
}

/// A guarantee fulfilled once `seconds` have passed on the process clock.
Guarantee<void> after(double seconds);

/// Fulfilled with every value, in order, once all are fulfilled; rejected with the first error.
template <class T>
auto when(const std::vector<Promise<T>>& promises) {
    using Values = std::conditional_t<std::is_void_v<T>, void, std::vector<T>>;
    auto all = Promise<Values>::pending();
    if (promises.empty()) {
        if constexpr (std::is_void_v<T>) {
            all.resolver.fulfill();
        } else {
            all.resolver.fulfill(std::vector<T>{});
        }
        return all.promise;
    }
    struct Gather {
        std::mutex mutex;
        std::size_t remaining;
        std::vector<std::optional<detail::Stored<T>>> values;
    };
    auto gather = std::make_shared<Gather>();
    gather->remaining = promises.size();
    gather->values.resize(promises.size());
    for (std::size_t i = 0; i < promises.size(); ++i) {
        detail::Access::state(promises[i])->subscribe(nullptr, [gather, i, r = all.resolver](const auto& s) {
            if (s.error()) return void(r.reject(s.error()));
            std::unique_lock lock(gather->mutex);
            gather->values[i] = *s.value();
            if (--gather->remaining > 0) return;
            lock.unlock();
            if constexpr (std::is_void_v<T>) {
                r.fulfill();
            } else {
                std::vector<T> values;
                values.reserve(gather->values.size());
                for (auto& v : gather->values) values.push_back(std::move(*v));
                r.fulfill(std::move(values));
            }
        });
    }
    return all.promise;
}

}  // namespace quorvane
