#pragma once

#include <mutex>
#include <optional>
#include <string>

struct _XDisplay;

namespace quorvane::session {

/// Whether the X display named by DISPLAY opens: the host hands a client its one screen share
/// only then, so a share that cannot start is not spent.
///
/// The connection of the check that opened last stays open until the next check: an X server
/// resets when its last client leaves and drops the connections that come in meanwhile, the
/// library's own among them. A display whose server has gone (killed, or its forwarding stopped)
/// does not open at the next check, and its kept connection closes without ending the program.
class DisplayCheck {
public:
    DisplayCheck() = default;
    ~DisplayCheck();
    DisplayCheck(const DisplayCheck&) = delete;
    DisplayCheck& operator=(const DisplayCheck&) = delete;

    /// None when the display opens, else why it does not, in words.
    std::optional<std::string> problem();

private:
    std::mutex mutex_;
    _XDisplay* open_ = nullptr;
};

}  // namespace quorvane::session
