#include "util/HostCallGate.hpp"

namespace quorvane {

namespace {

/// The innermost call the calling thread is making through a gate. A plain pointer: it must
/// outlast the thread's own destructors, which may still log at exit.
thread_local const HostCallGate::Passing* innermost = nullptr;

}  // namespace

HostCallGate::Passing::Passing(HostCallGate& gate) : gate(gate), outer(innermost) {
    std::lock_guard lock(gate.mutex_);
    entered = !gate.closed_;
    if (!entered) return;
    ++gate.running_;
    innermost = this;
}

HostCallGate::Passing::~Passing() {
    if (!entered) return;
    innermost = outer;
    std::lock_guard lock(gate.mutex_);
    --gate.running_;
    if (gate.closed_) gate.idle_.notify_all();
}

void HostCallGate::shut() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void HostCallGate::close() {
    int own = 0;
    for (auto passing = innermost; passing; passing = passing->outer) own += &passing->gate == this;
    std::unique_lock lock(mutex_);
    closed_ = true;
    idle_.wait(lock, [&] { return running_ == own; });
}

}  // namespace quorvane
