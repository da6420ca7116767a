#include "quorvane/DispatchQueue.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <asio/post.hpp>
#include <asio/thread_pool.hpp>

#include "async/Clock.hpp"

namespace quorvane {

namespace {

asio::thread_pool& sharedPool() {
    // Never destroyed: queues may still hold work when static destructors run at exit.
    static auto* pool = new asio::thread_pool(std::max(8u, std::thread::hardware_concurrency()));
    return *pool;
}

// Work that throws must not take a pool thread down with it.
void runGuarded(const DispatchQueue::Work& work, const std::string& label) {
    try {
        work();
    } catch (const std::exception& e) {
        std::cerr << "Quorvane: uncaught exception on queue \"" << label << "\": " << e.what() << "\n";
    } catch (...) {
        std::cerr << "Quorvane: uncaught exception on queue \"" << label << "\"\n";
    }
}

class SerialTurn;

/// The turns the calling thread holds, innermost first: a block run by sync() sits inside the
/// work that called it.
struct HeldTurn {
    const SerialTurn* turn;
    const HeldTurn* outer;
};
thread_local const HeldTurn* heldTurns = nullptr;

/// Marks the calling thread as running work of one queue while it lives.
class Holding {
public:
    explicit Holding(const SerialTurn* turn) : held_{turn, heldTurns} { heldTurns = &held_; }
    ~Holding() { heldTurns = held_.outer; }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

private:
    HeldTurn held_;
};

/// The serial turn of one queue. Work and callers of sync() wait in one line, in order; one thread
/// at a time holds the turn and runs the line. That is a pool thread, or a caller of sync(): it
/// runs its block itself and, when it finds the turn free, the work ahead of it too. So sync()
/// needs no pool thread and completes even while every pool thread waits in sync().
class SerialTurn : public std::enable_shared_from_this<SerialTurn> {
public:
    explicit SerialTurn(std::string label) : label_(std::move(label)) {}

    const std::string& label() const { return label_; }

    void post(DispatchQueue::Work work) {
        std::lock_guard lock(mutex_);
        line_.push_back({std::move(work), nullptr});
        if (!held_) postRun();
    }

    void runSync(const DispatchQueue::Work& work) {
        std::unique_lock lock(mutex_);
        SyncCaller self;
        line_.push_back({nullptr, &self});
        while (!self.granted) {
            if (held_) {
                turnChanged_.wait(lock);
            } else {
                held_ = true;
                runLine(lock);
            }
        }
        lock.unlock();
        std::exception_ptr failure;
        {
            Holding holding(this);
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        passOn();
        lock.unlock();
        if (failure) std::rethrow_exception(failure);
    }

    bool isInnermost() const { return heldTurns && heldTurns->turn == this; }

    bool isHeldByThisThread() const {
        for (auto held = heldTurns; held; held = held->outer) {
            if (held->turn == this) return true;
        }
        return false;
    }

private:
    struct SyncCaller {
        bool granted = false;
    };
    /// Work posted with async(), or a caller of sync() waiting for its turn.
    struct Entry {
        DispatchQueue::Work work;
        SyncCaller* caller;
    };

    // The caller holds `mutex_` in every method below.

    void postRun() {
        if (runPosted_) return;
        runPosted_ = true;
        asio::post(sharedPool(), [self = shared_from_this()] {
            std::unique_lock lock(self->mutex_);
            self->runPosted_ = false;
            if (self->held_) return;  // the holder posts again when it leaves work behind
            self->held_ = true;
            self->runLine(lock);
        });
    }

    /// Runs the line with the turn held until a caller of sync() is at the front, then passes the
    /// turn on. Work posted meanwhile waits for the next turn, so that one busy queue does not keep
    /// a pool thread from the other queues.
    void runLine(std::unique_lock<std::mutex>& lock) {
        for (auto left = line_.size(); left > 0 && !line_.front().caller; --left) {
            auto work = std::move(line_.front().work);
            line_.pop_front();
            lock.unlock();
            {
                Holding holding(this);
                runGuarded(work, label_);
            }
            work = nullptr;  // its captures go outside the lock: releasing them may post here
            lock.lock();
        }
        passOn();
    }

    /// Hands the turn to the caller of sync() at the front of the line, or frees it: a pool thread
    /// or a waiting caller of sync(), whichever comes first, then runs the work left.
    void passOn() {
        if (!line_.empty() && line_.front().caller) {
            line_.front().caller->granted = true;
            line_.pop_front();
        } else {
            held_ = false;
            if (!line_.empty()) postRun();
        }
        turnChanged_.notify_all();
    }

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::deque<Entry> line_;
    bool held_ = false;       // a thread runs this queue's work
    bool runPosted_ = false;  // a pool thread has been asked to
};

}  // namespace

struct DispatchQueue::Impl {
    // Shared with the pool, so queued work stays valid even when the queue object is released first.
    std::shared_ptr<SerialTurn> turn;
};

DispatchQueue::DispatchQueue(std::string label)
    : impl_(std::make_unique<Impl>(Impl{std::make_shared<SerialTurn>(std::move(label))})) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label)));
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::main() {
    static const auto* queue = new std::shared_ptr<DispatchQueue>(create("main"));
    return *queue;
}

const std::string& DispatchQueue::label() const { return impl_->turn->label(); }

void DispatchQueue::async(Work work) { impl_->turn->post(std::move(work)); }

void DispatchQueue::asyncAfter(double seconds, Work work) {
    Clock::current()->scheduleDetached(shared_from_this(), seconds, std::move(work));
}

void DispatchQueue::sync(const Work& work) {
    // Also when this queue waits further out on the thread, in a sync() onto another queue.
    if (impl_->turn->isHeldByThisThread()) {
        throw std::logic_error("DispatchQueue.sync called from its own queue \"" + label() + "\"");
    }
    impl_->turn->runSync(work);
}

bool DispatchQueue::isCurrent() const { return impl_->turn->isInnermost(); }

}  // namespace quorvane
