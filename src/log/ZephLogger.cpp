#include "log/ZephLogger.hpp"

#include <algorithm>
#include <cmath>

#include "async/Clock.hpp"
#include "log/LogPoster.hpp"

namespace quorvane {

namespace {
constexpr const char* notSet = "not set";
}

ZephLogger::ZephLogger(std::shared_ptr<Logger> logger, LogLevel level, bool retainLogs)
    : logger_(std::move(logger)), level_(level), retainLogs_(retainLogs) {}

std::shared_ptr<Logger> ZephLogger::logger() const {
    std::lock_guard lock(mutex_);
    return logger_;
}

void ZephLogger::setLogger(std::shared_ptr<Logger> logger) {
    std::lock_guard lock(mutex_);
    logger_ = std::move(logger);
}

void ZephLogger::closeConsole() {
    console_.close();
    setLogger(nullptr);
}

void ZephLogger::setRole(WebRtcClientRole role) {
    std::lock_guard lock(mutex_);
    role_ = role;
}

void ZephLogger::setSessionId(std::string sessionId) {
    std::lock_guard lock(mutex_);
    sessionId_ = std::move(sessionId);
}

void ZephLogger::setPin(std::string pin) {
    std::lock_guard lock(mutex_);
    pin_ = std::move(pin);
}

std::vector<LogEntry> ZephLogger::getLogStore() const {
    std::lock_guard lock(mutex_);
    std::vector<LogEntry> entries;
    entries.reserve(logStore_.size());
    for (const auto& stored : logStore_) entries.push_back(stored.entry);
    return entries;
}

void ZephLogger::clearLogStore() {
    std::lock_guard lock(mutex_);
    logStore_.clear();
}

void ZephLogger::trace(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                       const std::string& message, std::optional<LogData> data) {
    log(LogLevel::TRACE, &Logger::trace, store, pkg, klass, method, message, std::move(data));
}

void ZephLogger::debug(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                       const std::string& message, std::optional<LogData> data) {
    log(LogLevel::DEBUG, &Logger::debug, store, pkg, klass, method, message, std::move(data));
}

void ZephLogger::info(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                      const std::string& message, std::optional<LogData> data) {
    log(LogLevel::INFO, &Logger::info, store, pkg, klass, method, message, std::move(data));
}

void ZephLogger::warn(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                      const std::string& message, std::optional<LogData> data) {
    log(LogLevel::WARN, &Logger::warn, store, pkg, klass, method, message, std::move(data));
}

void ZephLogger::error(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                       const std::string& message, std::optional<LogData> data) {
    log(LogLevel::ERROR, &Logger::error, store, pkg, klass, method, message, std::move(data));
}

void ZephLogger::sensitive(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                           const std::string& message, std::optional<LogData> data) {
    storeSpecial(store, LogType::SENSITIVE, LogLevel::INFO, pkg, klass, method, message,
                 [&](LogEntry& entry) { entry.data = std::move(data); });
}

void ZephLogger::metric(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                        const std::string& message, const std::string& name, nlohmann::json value) {
    storeSpecial(store, LogType::METRIC, LogLevel::DEBUG, pkg, klass, method, message,
                 [&](LogEntry& entry) { entry.setLogMetric(name, std::move(value)); });
}

void ZephLogger::dataChannelMessage(bool store, const std::string& pkg, const std::string& klass,
                                    const std::string& method, const std::string& message,
                                    const std::string& messageId, std::int64_t messageLength) {
    storeSpecial(store, LogType::DATACHANNELMESSAGEINFO, LogLevel::INFO, pkg, klass, method, message,
                 [&](LogEntry& entry) { entry.setLogDataChannelMessageInfo(messageId, messageLength); });
}

void ZephLogger::log(LogLevel level, Print print, bool store, const std::string& pkg, const std::string& klass,
                     const std::string& method, const std::string& message, std::optional<LogData> data) {
    std::shared_ptr<Logger> console;
    {
        std::lock_guard lock(mutex_);
        console = logger_;
        if (importance(level) >= importance(level_) && (retainLogs_ || store)) {
            auto entry = mkLogEntry(LogType::LOG, level, pkg, klass, method, message);
            entry.data = data;
            append(std::move(entry));
        }
    }
    // Outside the lock: a slow console logger holds nobody back, and one that logs again through
    // this logger does not deadlock.
    if (console) console_.run([&] { ((*console).*print)(message, Logger::DataList{std::move(data)}); });
}

void ZephLogger::storeSpecial(bool store, LogType type, LogLevel level, const std::string& pkg,
                              const std::string& klass, const std::string& method, const std::string& message,
                              const std::function<void(LogEntry&)>& setData) {
    if (!retainLogs_ && !store) return;
    std::lock_guard lock(mutex_);
    auto entry = mkLogEntry(type, level, pkg, klass, method, message);
    setData(entry);
    append(std::move(entry));
}

LogEntry ZephLogger::mkLogEntry(LogType type, LogLevel level, const std::string& pkg, const std::string& klass,
                                const std::string& method, const std::string& message) const {
    // Milliseconds since 1970, truncated toward zero.
    auto timeStamp = static_cast<std::int64_t>(std::trunc(Clock::current()->now() * 1000.0));
    return LogEntry{role_,        SDKType::SWIFT, sessionId_.value_or(notSet), pin_.value_or(notSet),
                    timeStamp,    type,           level,                       pkg,
                    klass,        method,         message,                     std::nullopt};
}

void ZephLogger::append(LogEntry entry) { logStore_.push_back({nextSerial_++, std::move(entry)}); }

void ZephLogger::sendToServer(std::shared_ptr<LogPoster> poster) {
    std::string sessionId;
    WebRtcClientRole role;
    std::vector<Stored> copy;
    {
        std::lock_guard lock(mutex_);
        if (!sessionId_ || !role_) return;
        sessionId = *sessionId_;
        role = *role_;
        copy = logStore_;
    }
    if (!poster) return;

    auto entries = nlohmann::json::array();
    auto metrics = nlohmann::json::array();
    for (const auto& stored : copy) {
        (stored.entry.type == LogType::METRIC ? metrics : entries).push_back(stored.entry.getMetaData());
    }
    nlohmann::json body{{"entries", std::move(entries)}, {"metrics", std::move(metrics)}};

    if (copy.empty()) {
        poster->postLogs(std::move(body), std::move(sessionId), role);
        return;
    }
    // Only what was posted leaves the store, and only once the service has it.
    poster->postLogs(std::move(body), std::move(sessionId), role).done([weak = weak_from_this(), last = copy.back().serial] {
        if (auto self = weak.lock()) self->removeUpTo(last);
    });
}

void ZephLogger::removeUpTo(std::uint64_t serial) {
    std::lock_guard lock(mutex_);
    std::erase_if(logStore_, [serial](const Stored& stored) { return stored.serial <= serial; });
}

}  // namespace quorvane
