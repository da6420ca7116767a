#include "TransferProgress.hpp"

#include <cmath>
#include <cstdio>

namespace quorvane::session {

namespace {

constexpr int barWidth = 20;
constexpr double mebibyte = 1024.0 * 1024.0;
constexpr auto liveInterval = std::chrono::milliseconds(100);

double mebibytes(std::uint64_t chunks) { return static_cast<double>(chunks * TransferProgress::chunkBytes) / mebibyte; }

std::string formatted(const char* format, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

std::string formatProgress(std::uint16_t id, std::uint16_t received, std::uint16_t total, std::optional<double> rate) {
    const double share = total == 0 ? 1.0 : static_cast<double>(received) / total;
    const int filled = static_cast<int>(share * barWidth);
    std::string bar = std::string(filled, '#') + std::string(barWidth - filled, '-');
    std::string text = formatted("receiving #%u [%s] %3d%%  %.1f/%.1f MiB", id, bar.c_str(),
                                 static_cast<int>(share * 100), mebibytes(received), mebibytes(total));
    if (rate && *rate > 0) {
        const double left = static_cast<double>((total - received) * TransferProgress::chunkBytes) / *rate;
        text += formatted("  %.1f MiB/s  %.0f s left", *rate / mebibyte, std::ceil(left));
    } else {
        text += "  -- MiB/s  -- s left";
    }
    return text;
}

std::string formatFinished(std::uint16_t id, std::uint16_t total, double seconds) {
    std::string text = formatted("received #%u: %.1f MiB in %.1f s", id, mebibytes(total), seconds);
    if (seconds > 0) text += formatted(", %.1f MiB/s", mebibytes(total) / seconds);
    return text;
}

std::optional<TransferProgress::Shown> TransferProgress::report(std::uint16_t id, std::uint16_t, std::uint16_t received,
                                                                std::uint16_t total, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto [entry, isNew] = transfers_.try_emplace(id, Transfer{now, received, now, -1});
    Transfer& transfer = entry->second;
    const double seconds = std::chrono::duration<double>(now - transfer.started).count();
    if (received >= total) {
        transfers_.erase(entry);
        return Shown{formatFinished(id, total, seconds), true};
    }
    const int tenth = total == 0 ? 10 : received * 10 / total;
    const bool due = live_ ? (isNew || now - transfer.lastShown >= liveInterval) : tenth > transfer.lastTenth;
    if (!due) return std::nullopt;
    transfer.lastShown = now;
    transfer.lastTenth = tenth;
    std::optional<double> rate;
    if (seconds > 0 && received > transfer.startChunks) {
        rate = static_cast<double>((received - transfer.startChunks) * chunkBytes) / seconds;
    }
    return Shown{formatProgress(id, received, total, rate), false};
}

void TransferProgress::forget(std::uint16_t id) {
    std::lock_guard lock(mutex_);
    transfers_.erase(id);
}

}  // namespace quorvane::session
