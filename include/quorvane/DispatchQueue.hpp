#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quorvane {

/// A serial, labelled queue of work. Work posted from one thread runs in posting order, one item
/// at a time, on a small thread pool shared by every queue of the process.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Work = std::function<void()>;

    /// A new serial queue.
    static std::shared_ptr<DispatchQueue> create(std::string label);

    /// The process-wide serial queue that stands for the host's main queue: delegate calls and
    /// promise continuations that name no queue run here.
    static const std::shared_ptr<DispatchQueue>& main();

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const;

    /// Runs `work` later on this queue.
    void async(Work work);

    /// Runs `work` on this queue once `seconds` have passed on the process clock.
    void asyncAfter(double seconds, Work work);

    /// Runs `work` on this queue and waits for it to finish. Calling it from work that is running
    /// on this very queue would wait for itself forever; that is detected and throws
    /// std::logic_error instead.
    void sync(const Work& work);

    /// True when the calling thread is running work of this queue.
    bool isCurrent() const;

private:
    struct Impl;
    explicit DispatchQueue(std::string label);
    std::unique_ptr<Impl> impl_;
};

using DispatchQueuePtr = std::shared_ptr<DispatchQueue>;

}  // namespace quorvane
