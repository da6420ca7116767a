#include "quorvane/DispatchQueue.hpp"

#include <algorithm>
#include <exception>
#include <future>
#include <iostream>
#include <stdexcept>
#include <thread>

#include <asio/post.hpp>
#include <asio/strand.hpp>
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

}  // namespace

struct DispatchQueue::Impl {
    explicit Impl(std::string l) : label(std::move(l)), strand(asio::make_strand(sharedPool())) {}
    std::string label;
    asio::strand<asio::thread_pool::executor_type> strand;
};

DispatchQueue::DispatchQueue(std::string label) : impl_(std::make_unique<Impl>(std::move(label))) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label)));
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::main() {
    static const auto* queue = new std::shared_ptr<DispatchQueue>(create("main"));
    return *queue;
}

const std::string& DispatchQueue::label() const { return impl_->label; }

void DispatchQueue::async(Work work) {
    // The strand is a handle to shared state inside the pool, so queued work stays valid even
    // when this queue object is released first.
    asio::post(impl_->strand, [work = std::move(work), label = impl_->label] { runGuarded(work, label); });
}

void DispatchQueue::asyncAfter(double seconds, Work work) {
    Clock::current()->scheduleDetached(shared_from_this(), seconds, std::move(work));
}

void DispatchQueue::sync(const Work& work) {
    if (isCurrent()) {
        throw std::logic_error("DispatchQueue.sync called from its own queue \"" + impl_->label + "\"");
    }
    std::promise<void> done;
    auto finished = done.get_future();
    asio::post(impl_->strand, [&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}

bool DispatchQueue::isCurrent() const { return impl_->strand.running_in_this_thread(); }

}  // namespace quorvane
