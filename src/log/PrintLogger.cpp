#include "quorvane/PrintLogger.hpp"

#include <cstdio>

namespace quorvane {

namespace {

std::string line(std::string_view tag, const std::string& message, const Logger::DataList& data) {
    std::string text(tag);
    text += message;
    text += " [";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) text += ", ";
        // Logged strings may hold bytes from the peer: invalid UTF-8 is replaced, never thrown on.
        text += data[i] ? data[i]->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) : "nil";
    }
    text += "]\n";
    return text;
}

void print(std::string_view tag, const std::string& message, const Logger::DataList& data) {
    auto text = line(tag, message, data);
    // One write per line: stdio locks the stream for the call, so lines of concurrent callers
    // never interleave.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

void PrintLogger::trace(const std::string& message, const DataList& data) { print("TRACE: ", message, data); }
void PrintLogger::debug(const std::string& message, const DataList& data) { print("DEBUG: ", message, data); }
void PrintLogger::error(const std::string& message, const DataList& data) { print("ERROR: ", message, data); }
void PrintLogger::info(const std::string& message, const DataList& data) { print("INFO: ", message, data); }
void PrintLogger::warn(const std::string& message, const DataList& data) { print("WARN: ", message, data); }

}  // namespace quorvane
