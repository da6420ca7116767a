#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>

namespace quorvane {

/// The door through which the library calls the host's code (its logger, its delegate), which
/// the host shuts for good when it releases its client: once close() has returned, no call begins
/// any more, and none still runs on another thread. Calls pass side by side; a call made from
/// inside another one passes too.
class HostCallGate {
public:
    HostCallGate() = default;
    HostCallGate(const HostCallGate&) = delete;
    HostCallGate& operator=(const HostCallGate&) = delete;

    /// Runs `call` unless the gate is closed; returns whether it ran.
    template <class Call>
    bool run(Call&& call) {
        Passing passing(*this);
        if (!passing.entered) return false;
        std::forward<Call>(call)();
        return true;
    }

    /// Closes the gate: from now on no call begins; those under way go on.
    void shut();

    /// Closes the gate and waits until the calls under way on other threads have returned. Calls
    /// under way on the calling thread itself (a host that releases its client from inside one of
    /// its reports) cannot be waited for and return after it.
    void close();

    /// One call through a gate, on the thread's list of the calls it is in, innermost first.
    struct Passing {
        explicit Passing(HostCallGate& gate);
        ~Passing();
        Passing(const Passing&) = delete;
        Passing& operator=(const Passing&) = delete;

        HostCallGate& gate;
        const Passing* outer;
        bool entered;
    };

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    bool closed_ = false;
    int running_ = 0;  // calls under way, on every thread
};

}  // namespace quorvane
