#pragma once

// The library's structured logger.
//
// One ZephLogger exists per client (create it with std::make_shared); every component that logs
// holds it and names its package, class and operation with each line. A line may be stored as a
// LogEntry (posted to the service when the session ends) and, for the five ordinary levels, is
// always printed through the console Logger, if one is set.
//
// Logging from a component: keep a ClassLogger (util/ClassLogger.hpp), which fixes the package
// and the class, and log in one line with the operation name and the message:
//
//     class WebRtcClient {
//         ClassLogger log_;
//     public:
//         explicit WebRtcClient(std::shared_ptr<ZephLogger> logger) : log_(std::move(logger), "WebRtcClient") {}
//         void connect() { log_.debug("connect", "Connecting"); }
//     };
//
// A line that must reach the store whatever the retain setting (an important error, a metric),
// or that carries data, calls the logger itself:
//
//     logger->error(true, "Quorvane", "WebRtcClient", "init", "Signal server web socket port unavailable");
//     logger->metric(true, "Quorvane.Util", "SessionMetrics", "logMetrics", "", "Num Messages", 3);
//
// Storing: an ordinary line (trace, debug, info, warn, error) is stored when its level is at least
// as important as the logger's threshold and either logs are retained or the call's store flag is
// set. sensitive, metric and dataChannelMessage ignore the threshold, are stored when logs are
// retained or the store flag is set, and are never printed.
//
// The store is bounded: its entries as held in memory (each entry's object, its strings and its
// data, plus a fixed overhead per entry) take at most the store's capacity, 16 MiB unless the
// constructor is given another: some 40,000 of the lines a host logs as it receives small
// messages. An entry that would pass the bound makes room by dropping the oldest entries first,
// flagged ones and metrics alike; an entry larger than the whole bound is dropped itself, and the
// store kept as it is. An append costs the same whatever the store holds. The next upload says how
// many entries were dropped since the last successful one: its "entries" list then starts with one
// WARN entry of class "ZephLogger", operation "sendToServer", whose data is {"droppedEntries": N},
// made when the upload is.
//
// Every operation is thread-safe. The console logger is called outside the logger's lock, so a
// console logger may log again.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "log/LogEntry.hpp"
#include "quorvane/Logger.hpp"
#include "util/HostCallGate.hpp"
#include "quorvane/WebRtcClientRole.hpp"

namespace quorvane {

class LogPoster;

class ZephLogger : public std::enable_shared_from_this<ZephLogger> {
public:
    /// The bound of the store unless the constructor is given another: 16 MiB.
    static constexpr std::size_t defaultStoreCapacity = std::size_t(16) << 20;

    /// `logger` may be null (nothing is printed); `level` is the threshold of the store for the
    /// ordinary levels; `retainLogs` stores every ordinary line that passes the threshold;
    /// `storeCapacity` bounds the bytes the stored entries hold.
    ZephLogger(std::shared_ptr<Logger> logger, LogLevel level, bool retainLogs,
               std::size_t storeCapacity = defaultStoreCapacity);

    std::shared_ptr<Logger> logger() const;
    /// Later lines print through `logger` (null: nothing is printed).
    void setLogger(std::shared_ptr<Logger> logger);
    /// Lets go of the console logger for good: once this returns, no line is printed any more,
    /// whatever setLogger is given later, and none is still being printed on another thread. Lines
    /// are still stored. For a client the host has released: the host's logger may be gone.
    void closeConsole();

    /// The session's side, id and PIN, stamped into every entry made from now on.
    void setRole(WebRtcClientRole role);
    void setSessionId(std::string sessionId);
    void setPin(std::string pin);

    /// A copy of the stored entries, oldest first.
    std::vector<LogEntry> getLogStore() const;
    /// Empties the store and forgets what was dropped from it: the next upload reports no drop.
    void clearLogStore();

    /// Posts the stored entries (metrics apart) to the service under the current session id and
    /// role, and returns at once. Does nothing when either is unknown. When entries were dropped
    /// since the last successful upload, "entries" starts with the entry that says how many. Once
    /// the post succeeds, the posted entries leave the store and the count starts again from what
    /// is dropped after them; entries stored meanwhile stay. After a failure every entry stays for
    /// the next upload, and so does the count.
    void sendToServer(std::shared_ptr<LogPoster> poster);

    void trace(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
               const std::string& message, std::optional<LogData> data = std::nullopt);
    void debug(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
               const std::string& message, std::optional<LogData> data = std::nullopt);
    void info(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
              const std::string& message, std::optional<LogData> data = std::nullopt);
    void warn(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
              const std::string& message, std::optional<LogData> data = std::nullopt);
    void error(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
               const std::string& message, std::optional<LogData> data = std::nullopt);

    /// Stored as a SENSITIVE entry at INFO; never printed.
    void sensitive(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                   const std::string& message, std::optional<LogData> data = std::nullopt);
    /// Stored as a METRIC entry at DEBUG whose data is {name: value}; never printed.
    void metric(bool store, const std::string& pkg, const std::string& klass, const std::string& method,
                const std::string& message, const std::string& name, nlohmann::json value);
    /// Stored as a DATACHANNELMESSAGEINFO entry at INFO whose data holds "messageId" and
    /// "messageLength"; never printed.
    void dataChannelMessage(bool store, const std::string& pkg, const std::string& klass,
                            const std::string& method, const std::string& message,
                            const std::string& messageId, std::int64_t messageLength);

private:
    using Print = void (Logger::*)(const std::string&, const Logger::DataList&);

    struct Stored {
        std::uint64_t serial;  // increases with every stored entry; tells an upload what it sent
        std::size_t bytes;     // what the entry holds, counted when it was stored
        LogEntry entry;
    };

    /// The five ordinary levels.
    void log(LogLevel level, Print print, bool store, const std::string& pkg, const std::string& klass,
             const std::string& method, const std::string& message, std::optional<LogData> data);
    /// sensitive, metric and dataChannelMessage: when logs are retained or `store` is set, stores
    /// an entry whose data `setData` fills.
    void storeSpecial(bool store, LogType type, LogLevel level, const std::string& pkg,
                      const std::string& klass, const std::string& method, const std::string& message,
                      const std::function<void(LogEntry&)>& setData);
    /// An entry stamped with the current role, session id, PIN and time; the caller holds mutex_.
    LogEntry mkLogEntry(LogType type, LogLevel level, const std::string& pkg, const std::string& klass,
                        const std::string& method, const std::string& message) const;
    /// Stores `entry`, first dropping the oldest entries as far as it needs room; the caller holds
    /// mutex_.
    void append(LogEntry entry);
    void popOldest();  // the caller holds mutex_
    /// The service has every entry stored before `serial`, and has heard of the first `tooLarge`
    /// entries too large to store: the former leave the store, and neither counts as dropped again.
    void delivered(std::uint64_t serial, std::uint64_t tooLarge);

    mutable std::mutex mutex_;
    std::shared_ptr<Logger> logger_;
    HostCallGate console_;  // every line printed passes through it
    std::optional<std::string> sessionId_;
    std::optional<std::string> pin_;
    const LogLevel level_;
    std::optional<WebRtcClientRole> role_;
    const bool retainLogs_;
    const std::size_t storeCapacity_;
    // Serials run without gaps and the store always holds the newest ones, from its first entry's
    // serial up to nextSerial_. Below deliveredSerial_ everything was posted (or cleared); so the
    // entries from there up to the first stored one were dropped since the last successful upload.
    // Entries too large to store get no serial: tooLarge_ counts them all, tooLargeDelivered_
    // those a successful upload reported.
    std::deque<Stored> logStore_;
    std::size_t storeBytes_ = 0;
    std::uint64_t nextSerial_ = 0;
    std::uint64_t deliveredSerial_ = 0;
    std::uint64_t tooLarge_ = 0;
    std::uint64_t tooLargeDelivered_ = 0;
};

}  // namespace quorvane
