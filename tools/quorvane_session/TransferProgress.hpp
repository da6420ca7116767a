#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quorvane::session {

/// Turns the delegate's chunk reports for large incoming messages into progress texts with a bar,
/// the share received, the rate and the time left. Sizes are counted in whole chunks of the
/// transport's largest frame payload, so they are exact to within one chunk.
class TransferProgress {
public:
    using Clock = std::chrono::steady_clock;

    /// The bytes one chunk carries at most.
    static constexpr std::uint64_t chunkBytes = 15360;

    /// What to show for a report.
    struct Shown {
        std::string text;
        bool finished = false;
    };

    /// `live`: the text is redrawn in place, so it is worth showing often (every 100 ms);
    /// otherwise every tenth of the way.
    explicit TransferProgress(bool live) : live_(live) {}

    /// One report of message `id`: `received` of `total` chunks are in. Returns the text to show
    /// now, if any; the last chunk always gives a finished text and forgets the message.
    std::optional<Shown> report(std::uint16_t id, std::uint16_t category, std::uint16_t received, std::uint16_t total,
                                Clock::time_point now);

    /// Forgets message `id` (the transport gave it up).
    void forget(std::uint16_t id);

private:
    struct Transfer {
        Clock::time_point started;
        std::uint16_t startChunks = 0;
        Clock::time_point lastShown;
        int lastTenth = -1;
    };

    std::mutex mutex_;
    const bool live_;
    std::map<std::uint16_t, Transfer> transfers_;
};

/// "receiving #7 [#########-----------]  45%  28.8/64.0 MiB  21.3 MiB/s  2 s left": `rate` in
/// bytes per second, absent while unknown.
std::string formatProgress(std::uint16_t id, std::uint16_t received, std::uint16_t total, std::optional<double> rate);

/// "received #7: 64.0 MiB in 3.1 s, 20.6 MiB/s".
std::string formatFinished(std::uint16_t id, std::uint16_t total, double seconds);

}  // namespace quorvane::session
