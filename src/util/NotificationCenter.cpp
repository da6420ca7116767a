#include "quorvane/NotificationCenter.hpp"

#include <algorithm>

namespace quorvane {

const std::shared_ptr<NotificationCenter>& NotificationCenter::defaultCenter() {
    static const auto center = std::make_shared<NotificationCenter>();
    return center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(std::string name, Observer observer) {
    std::lock_guard lock(mutex_);
    auto id = nextId_++;
    entries_.push_back({id, std::move(name), std::move(observer)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const Entry& entry) { return entry.id == id; });
}

void NotificationCenter::post(const std::string& name, std::any object) {
    std::vector<Observer> observers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.name == name) observers.push_back(entry.observer);
        }
    }
    // Called outside the lock so that an observer may add or remove observers.
    Notification notification{name, std::move(object)};
    for (const auto& observer : observers) observer(notification);
}

}  // namespace quorvane
