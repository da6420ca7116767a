#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "quorvane/QuorvaneDelegate.hpp"

namespace quorvane::testing {

/// Records every report as a line of text ("connect", "disconnect(true)", "notification",
/// "raw(Command)", ...), with what came with it; can be told to throw from one method.
class RecordingDelegate : public QuorvaneDelegate {
public:
    std::vector<std::string> events() const;
    std::size_t count(const std::string& event) const;
    /// Waits until `event` has been heard `times` times; false after a generous guard.
    bool waitFor(const std::string& event, std::size_t times = 1) const;

    std::vector<QVNotification> notifications() const;
    /// Whether the last report ran on the main queue.
    bool lastRanOnMain() const;

    /// From now on the method of this name throws std::runtime_error("host failure").
    void throwFrom(std::string method);
    std::function<void(const QVCommand&, const QVCommandContext&)> onCommand;
    std::function<void(const QVQuery&, const QVQueryContext&)> onQuery;
    std::function<void(const std::vector<std::uint8_t>&, const std::string&)> onRaw;

    void quorvaneDidReceiveNotification(const QVNotification& notification) override;
    void quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) override;
    void quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) override;
    void quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                    std::uint16_t totalChunks) override;
    void quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) override;
    void quorvaneDidConnect() override;
    void quorvaneDidDisconnect(bool expected) override;
    void quorvaneWillResetConnection() override;
    void quorvaneDidReceiveMessage(const std::vector<std::uint8_t>& data, const std::string& type) override;
    void quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController> controller) override;
    void quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) override;
    void quorvaneFailedToStartVideoCapture(std::exception_ptr error) override;
    void quorvaneFailedToStartScreenCapture(std::exception_ptr error) override;

private:
    void record(const std::string& method, std::string event);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<QVNotification> notifications_;
    bool lastOnMain_ = false;
    std::string throwFrom_;
};

}  // namespace quorvane::testing
