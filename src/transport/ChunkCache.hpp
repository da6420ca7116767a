#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "async/Clock.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "transport/ChunkHelper.hpp"
#include "util/BackgroundTimer.hpp"

namespace quorvane {

/// The per-message state objects of one kind, by transport message id, with an expiry sweep every
/// 5 seconds on the cache's serial queue.
///
/// The sweep takes out every entry whose `lastUpdated() + timeout()` lies before the sweep's time
/// (an entry whose deadline equals it survives) and then calls its timedOut(); an entry therefore
/// lives between `timeout()` and `timeout()` plus 5 seconds after its last activity. Whoever hears
/// timedOut() may put the entry, or another one, back under the id; a sweep tells each entry
/// timedOut() at most once and never touches an entry stored after it started.
///
/// get, set, removeValue and size must be called on the cache's queue; pause and resume may be
/// called from anywhere and do their work on the queue. A released cache sweeps no more, and its
/// entries hear nothing.
template <std::derived_from<ChunkHelper> T>
class ChunkCache {
public:
    static constexpr double sweepInterval = 5.0;

    /// Starts the sweep timer on `dispatchQueue` (from a block submitted to it).
    explicit ChunkCache(DispatchQueuePtr dispatchQueue)
        : dispatchQueue_(std::move(dispatchQueue)), table_(std::make_shared<Table>()) {
        dispatchQueue_->async([queue = dispatchQueue_, weakTable = std::weak_ptr<Table>(table_)] {
            auto table = weakTable.lock();
            if (!table) return;
            table->timer = std::make_unique<BackgroundTimer>(queue, sweepInterval, true, [weakTable] {
                if (auto live = weakTable.lock()) live->sweep();
            });
        });
    }

    ChunkCache(const ChunkCache&) = delete;
    ChunkCache& operator=(const ChunkCache&) = delete;

    /// The entry under `id`, or null.
    std::shared_ptr<T> get(std::uint16_t id) const {
        auto found = table_->entries.find(id);
        return found == table_->entries.end() ? nullptr : found->second;
    }

    /// Stores `entry` under `id`, replacing any entry there; null removes the id. No operation of
    /// an entry is called.
    void set(std::uint16_t id, std::shared_ptr<T> entry) {
        if (entry) {
            table_->entries[id] = std::move(entry);
        } else {
            table_->entries.erase(id);
        }
    }

    /// Takes the entry under `id` out and returns it (null when there was none). No operation of
    /// the entry is called.
    std::shared_ptr<T> removeValue(std::uint16_t id) {
        auto found = table_->entries.find(id);
        if (found == table_->entries.end()) return nullptr;
        auto entry = std::move(found->second);
        table_->entries.erase(found);
        return entry;
    }

    std::size_t size() const { return table_->entries.size(); }

    /// Stops expiry; entries and their timestamps stay as they are.
    void pause() {
        dispatchQueue_->async([weakTable = std::weak_ptr<Table>(table_)] {
            auto table = weakTable.lock();
            if (table && table->timer) table->timer->suspend();
        });
    }

    /// Gives every entry its whole time-out again from now, then restarts expiry.
    void resume() {
        dispatchQueue_->async([weakTable = std::weak_ptr<Table>(table_)] {
            auto table = weakTable.lock();
            if (!table) return;
            const double now = Clock::current()->monotonic();
            for (auto& [id, entry] : table->entries) entry->resetTimestamp(now);
            if (table->timer) table->timer->resume();
        });
    }

private:
    // Held by the cache alone; the timer and the queued blocks reach it weakly.
    struct Table {
        std::map<std::uint16_t, std::shared_ptr<T>> entries;
        std::unique_ptr<BackgroundTimer> timer;

        // Strictly past its deadline: an entry whose deadline is `now` survives this sweep.
        static bool isExpired(const T& entry, double now) { return entry.lastUpdated() + entry.timeout() < now; }

        void sweep() {
            const double now = Clock::current()->monotonic();
            std::vector<std::pair<std::uint16_t, std::shared_ptr<T>>> expired;
            for (const auto& [id, entry] : entries) {
                if (isExpired(*entry, now)) expired.emplace_back(id, entry);
            }
            for (auto& [id, entry] : expired) {
                // A handler called earlier in this sweep may have removed, replaced or refreshed it.
                auto found = entries.find(id);
                if (found == entries.end() || found->second != entry) continue;
                if (!isExpired(*entry, now)) continue;
                entries.erase(found);
                entry->timedOut();
            }
        }
    };

    DispatchQueuePtr dispatchQueue_;
    std::shared_ptr<Table> table_;
};

}  // namespace quorvane
