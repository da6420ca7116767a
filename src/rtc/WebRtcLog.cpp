#include "rtc/WebRtcLog.hpp"

#include <rtc_base/logging.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "log/ZephLogger.hpp"

namespace quorvane::rtc {

namespace {

/// The one sink WebRTC writes to: hands each line to the loggers forwarded to.
class Sink : public ::rtc::LogSink {
public:
    void add(const std::shared_ptr<ZephLogger>& logger) {
        std::lock_guard lock(mutex_);
        loggers_.push_back(logger);
    }

    void remove(const std::shared_ptr<ZephLogger>& logger) {
        std::lock_guard lock(mutex_);
        loggers_.erase(std::find(loggers_.begin(), loggers_.end(), logger));
    }

    using ::rtc::LogSink::OnLogMessage;

    void OnLogMessage(const std::string& message, ::rtc::LoggingSeverity severity) override {
        auto line = message;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        for (const auto& logger : receivers()) {
            if (severity >= ::rtc::LS_ERROR) {
                logger->debug(false, "Quorvane.WebRTC", "WebRTC", "log", "WebRTC " + line);
            } else {
                logger->trace(false, "Quorvane.WebRTC", "WebRTC", "log", "WebRTC " + line);
            }
        }
    }

    void OnLogMessage(const std::string& message) override { OnLogMessage(message, ::rtc::LS_WARNING); }

private:
    /// Each logger once; called outside the lock, since a logger may log again.
    std::vector<std::shared_ptr<ZephLogger>> receivers() const {
        std::lock_guard lock(mutex_);
        auto receivers = loggers_;
        std::sort(receivers.begin(), receivers.end());
        receivers.erase(std::unique(receivers.begin(), receivers.end()), receivers.end());
        return receivers;
    }

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ZephLogger>> loggers_;  // once per WebRtcLog instance
};

/// Never destroyed: WebRTC's threads may log until the process has ended.
Sink& sink() {
    static auto* const sink = new Sink();
    return *sink;
}

}  // namespace

void WebRtcLog::install() {
    static const bool installed = [] {
        ::rtc::LogMessage::LogToDebug(::rtc::LS_NONE);
        ::rtc::LogMessage::SetLogToStderr(false);
        ::rtc::LogMessage::AddLogToStream(&sink(), ::rtc::LS_WARNING);
        return true;
    }();
    (void)installed;
}

WebRtcLog::WebRtcLog(std::shared_ptr<ZephLogger> logger) : logger_(std::move(logger)) {
    if (logger_) sink().add(logger_);
}

WebRtcLog::~WebRtcLog() {
    if (logger_) sink().remove(logger_);
}

}  // namespace quorvane::rtc
