#include "HostLogger.hpp"

#include <cstdio>
#include <string_view>

#include "Text.hpp"

namespace quorvane::session {

namespace {

constexpr std::string_view trackArrived = "peerConnection did add track with codecs: ";

}  // namespace

void HostLogger::write(const char* level, bool print, const std::string& message, const DataList& data) {
    if (message.starts_with(trackArrived)) {
        std::string codecs = message.substr(trackArrived.size());
        events_.update([&](SessionEvents::State& state) { state.remoteTracks.push_back(codecs); });
    }
    if (!print) return;
    // The library's lines may quote what the peer sent.
    std::string text = std::string(level) + ": " + printable(message);
    for (const auto& item : data) {
        if (item) text += " " + item->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace quorvane::session
