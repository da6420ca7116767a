#include "log/LogLevel.hpp"

namespace quorvane {

std::string_view rawValue(LogLevel level) {
    switch (level) {
        case LogLevel::ERROR: return "ERROR";
        case LogLevel::WARN: return "WARN";
        case LogLevel::INFO: return "INFO";
        case LogLevel::DEBUG: return "DEBUG";
        case LogLevel::TRACE: return "TRACE";
    }
    return "TRACE";
}

std::optional<LogLevel> logLevelFromRawValue(std::string_view raw) {
    for (auto level : {LogLevel::ERROR, LogLevel::WARN, LogLevel::INFO, LogLevel::DEBUG, LogLevel::TRACE}) {
        if (rawValue(level) == raw) return level;
    }
    return std::nullopt;
}

int importance(LogLevel level) {
    switch (level) {
        case LogLevel::ERROR: return 4;
        case LogLevel::WARN: return 3;
        case LogLevel::INFO: return 2;
        case LogLevel::DEBUG: return 1;
        case LogLevel::TRACE: return 0;
    }
    return 0;
}

}  // namespace quorvane
