#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::session {

/// What has happened in the session so far, as the host saw it; the scripts wait on it.
class SessionEvents {
public:
    struct State {
        int connects = 0;
        int resets = 0;
        int disconnects = 0;
        std::optional<bool> disconnectExpected;  ///< set by the (last) disconnect report
        std::vector<std::string> chats;          ///< chat lines received
        int filesIntact = 0;
        int filesDamaged = 0;
        bool screenStarted = false;
        std::optional<std::string> screenFailure;
        std::vector<std::string> remoteTracks;  ///< codec lists of video tracks the peer added
    };

    /// Applies `change` and wakes every waiter.
    void update(const std::function<void(State&)>& change);
    /// Waits until `condition` holds, at most `seconds`; returns whether it holds.
    bool waitFor(const std::function<bool(const State&)>& condition, double seconds) const;
    State snapshot() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    State state_;
};

}  // namespace quorvane::session
