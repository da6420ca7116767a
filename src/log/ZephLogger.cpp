#include "log/ZephLogger.hpp"

#include <algorithm>
#include <cmath>

#include "async/Clock.hpp"
#include "log/LogPoster.hpp"

namespace quorvane {

namespace {
constexpr const char* notSet = "not set";
// Beside an entry's slot in the store: the allocator's header of the slot (the store is a deque,
// whose blocks hold one entry each at this size) and the store's pointer to the block.
constexpr std::size_t slotOverhead = 16 + sizeof(void*);
}

ZephLogger::ZephLogger(std::shared_ptr<Logger> logger, LogLevel level, bool retainLogs, std::size_t storeCapacity)
    : logger_(std::move(logger)), level_(level), retainLogs_(retainLogs), storeCapacity_(storeCapacity) {}

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
    storeBytes_ = 0;
    deliveredSerial_ = nextSerial_;
    tooLargeDelivered_ = tooLarge_;
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

void ZephLogger::append(LogEntry entry) {
    // The entry's slot and the entry's own heap blocks, which the move below keeps as they are.
    const auto bytes = sizeof(Stored) + slotOverhead + entry.heapBytes();
    if (bytes > storeCapacity_) {  // it could only empty the store, and still not fit
        ++tooLarge_;
        return;
    }
    while (storeBytes_ + bytes > storeCapacity_) popOldest();
    logStore_.push_back(Stored{nextSerial_++, bytes, std::move(entry)});
    storeBytes_ += bytes;
}

void ZephLogger::popOldest() {
    storeBytes_ -= logStore_.front().bytes;
    logStore_.pop_front();
}

void ZephLogger::sendToServer(std::shared_ptr<LogPoster> poster) {
    std::string sessionId;
    WebRtcClientRole role;
    std::vector<LogEntry> copy;
    std::uint64_t end = 0;
    std::uint64_t tooLarge = 0;
    {
        std::lock_guard lock(mutex_);
        if (!sessionId_ || !role_) return;
        sessionId = *sessionId_;
        role = *role_;
        const auto first = logStore_.empty() ? nextSerial_ : logStore_.front().serial;
        if (const auto dropped = first - deliveredSerial_ + tooLarge_ - tooLargeDelivered_; dropped > 0) {
            auto notice = mkLogEntry(LogType::LOG, LogLevel::WARN, "Quorvane", "ZephLogger", "sendToServer",
                                     "Dropped " + std::to_string(dropped) +
                                         " log entries to keep the log store within " +
                                         std::to_string(storeCapacity_) + " bytes");
            notice.data = LogData{{"droppedEntries", dropped}};
            copy.push_back(std::move(notice));
        }
        copy.reserve(copy.size() + logStore_.size());
        for (const auto& stored : logStore_) copy.push_back(stored.entry);
        end = nextSerial_;
        tooLarge = tooLarge_;
    }
    if (!poster) return;

    auto entries = nlohmann::json::array();
    auto metrics = nlohmann::json::array();
    for (const auto& entry : copy) {
        (entry.type == LogType::METRIC ? metrics : entries).push_back(entry.getMetaData());
    }
    nlohmann::json body{{"entries", std::move(entries)}, {"metrics", std::move(metrics)}};

    // Only what was posted leaves the store, and only once the service has it.
    poster->postLogs(std::move(body), std::move(sessionId), role).done([weak = weak_from_this(), end, tooLarge] {
        if (auto self = weak.lock()) self->delivered(end, tooLarge);
    });
}

void ZephLogger::delivered(std::uint64_t serial, std::uint64_t tooLarge) {
    std::lock_guard lock(mutex_);
    deliveredSerial_ = std::max(deliveredSerial_, serial);
    tooLargeDelivered_ = std::max(tooLargeDelivered_, tooLarge);
    while (!logStore_.empty() && logStore_.front().serial < serial) popOldest();
}

}  // namespace quorvane
