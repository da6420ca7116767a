#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvane {

/// A named event and the object that posted it.
struct Notification {
    std::string name;
    std::any object;  ///< for "reachabilityChanged": the std::shared_ptr<Reachability>
};

/// Delivers posted notifications to the observers of their name, on the posting thread.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using ObserverId = std::uint64_t;

    /// The process's default center.
    static const std::shared_ptr<NotificationCenter>& defaultCenter();

    /// Calls `observer` for every later notification named `name`.
    ObserverId addObserver(std::string name, Observer observer);
    void removeObserver(ObserverId id);
    /// Calls the observers of `name` in the order they were added.
    void post(const std::string& name, std::any object);

private:
    struct Entry {
        ObserverId id;
        std::string name;
        Observer observer;
    };
    std::mutex mutex_;
    ObserverId nextId_ = 1;
    std::vector<Entry> entries_;
};

}  // namespace quorvane
