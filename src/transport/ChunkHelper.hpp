#pragma once

#include <cstddef>
#include <cstdint>

#include "async/Clock.hpp"

namespace quorvane {

/// Most message bytes one data-channel frame carries.
inline constexpr std::size_t maxChunkBytes = 15360;
/// Chunk positions and counts are 16-bit, so a message has at most this many chunks.
inline constexpr std::size_t maxChunkCount = 65535;

/// The common part of the per-message state objects of the data channel (Chunker, ChunkAssembler,
/// SingleChunk) that a ChunkCache holds and expires.
///
/// Times are seconds on the monotonic clock (Clock::current()->monotonic()), so a step of the wall
/// clock neither freezes nor expires an entry. An entry expires once `lastUpdated() + timeout()`
/// lies behind the cache's sweep; the cache then calls timedOut().
class ChunkHelper {
public:
    virtual ~ChunkHelper() = default;
    ChunkHelper(const ChunkHelper&) = delete;
    ChunkHelper& operator=(const ChunkHelper&) = delete;

    /// Time of the last activity.
    double lastUpdated() const { return lastUpdated_; }
    /// Seconds of inactivity after which the entry expires.
    double timeout() const { return timeout_; }
    /// Sets lastUpdated() to `time` (monotonic seconds).
    void resetTimestamp(double time) { lastUpdated_ = time; }

    /// The message was acknowledged. Does nothing unless the entry says otherwise.
    virtual void completed() {}
    /// The entry expired or its message failed. Does nothing unless the entry says otherwise.
    virtual void timedOut() {}

protected:
    /// Starts with lastUpdated() = now.
    explicit ChunkHelper(double timeout) : timeout_(timeout), lastUpdated_(now()) {}

    void setTimeout(double timeout) { timeout_ = timeout; }
    static double now() { return Clock::current()->monotonic(); }

private:
    double timeout_;
    double lastUpdated_;
};

}  // namespace quorvane
