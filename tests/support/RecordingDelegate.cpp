#include "support/RecordingDelegate.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "quorvane/DispatchQueue.hpp"

namespace quorvane::testing {

void RecordingDelegate::record(const std::string& method, std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    lastOnMain_ = DispatchQueue::main()->isCurrent();
    changed_.notify_all();
    if (method == throwFrom_) throw std::runtime_error("host failure");
}

void RecordingDelegate::throwFrom(std::string method) {
    std::lock_guard lock(mutex_);
    throwFrom_ = std::move(method);
}

std::vector<std::string> RecordingDelegate::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::size_t RecordingDelegate::count(const std::string& event) const {
    std::lock_guard lock(mutex_);
    return std::count(events_.begin(), events_.end(), event);
}

bool RecordingDelegate::waitFor(const std::string& event, std::size_t times) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
        return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event)) >= times;
    });
}

std::vector<QVNotification> RecordingDelegate::notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

bool RecordingDelegate::lastRanOnMain() const {
    std::lock_guard lock(mutex_);
    return lastOnMain_;
}

void RecordingDelegate::quorvaneDidReceiveNotification(const QVNotification& notification) {
    {
        std::lock_guard lock(mutex_);
        notifications_.push_back(notification);
    }
    record("quorvaneDidReceiveNotification", "notification");
}

void RecordingDelegate::quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) {
    if (onCommand) onCommand(command, context);
    record("quorvaneDidReceiveCommand", "command");
}

void RecordingDelegate::quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) {
    if (onQuery) onQuery(query, context);
    record("quorvaneDidReceiveQuery", "query");
}

void RecordingDelegate::quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                   std::uint16_t numChunksReceived, std::uint16_t totalChunks) {
    record("quorvaneWillReceiveMessage", "progress(" + std::to_string(id) + "," + std::to_string(category) + "," +
                                             std::to_string(numChunksReceived) + "," + std::to_string(totalChunks) + ")");
}

void RecordingDelegate::quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    record("quorvaneFailedToReceiveMessage", "failedToReceive(" + std::to_string(id) + "," + std::to_string(category) + ")");
}

void RecordingDelegate::quorvaneDidConnect() { record("quorvaneDidConnect", "connect"); }

void RecordingDelegate::quorvaneDidDisconnect(bool expected) {
    record("quorvaneDidDisconnect", expected ? "disconnect(true)" : "disconnect(false)");
}

void RecordingDelegate::quorvaneWillResetConnection() { record("quorvaneWillResetConnection", "reset"); }

void RecordingDelegate::quorvaneDidReceiveMessage(const std::vector<std::uint8_t>& data, const std::string& type) {
    if (onRaw) onRaw(data, type);
    record("quorvaneDidReceiveMessage", "raw(" + type + ")");
}

void RecordingDelegate::quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController>) {
    record("quorvaneStartedVideoCapture", "videoStarted");
}

void RecordingDelegate::quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController>) {
    record("quorvaneStartedScreenCapture", "screenStarted");
}

void RecordingDelegate::quorvaneFailedToStartVideoCapture(std::exception_ptr) {
    record("quorvaneFailedToStartVideoCapture", "videoFailed");
}

void RecordingDelegate::quorvaneFailedToStartScreenCapture(std::exception_ptr) {
    record("quorvaneFailedToStartScreenCapture", "screenFailed");
}

}  // namespace quorvane::testing
