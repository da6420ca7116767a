#include "DisplayCheck.hpp"

#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace quorvane::session {

namespace {

/// Closes `display`, unless its server has closed the connection: Xlib would end the program on
/// closing it then, so it is kept for the program's life instead.
void letGo(Display* display) {
    if (!display) return;
    pollfd connection{XConnectionNumber(display), POLLIN, 0};
    if (poll(&connection, 1, 0) != 1 || (connection.revents & (POLLHUP | POLLERR)) == 0) {
        XCloseDisplay(display);
        return;
    }
    static std::mutex mutex;
    static auto* const gone = new std::vector<Display*>();
    std::lock_guard lock(mutex);
    gone->push_back(display);
}

}  // namespace

DisplayCheck::~DisplayCheck() { letGo(open_); }

std::optional<std::string> DisplayCheck::problem() {
    std::lock_guard lock(mutex_);
    letGo(std::exchange(open_, XOpenDisplay(nullptr)));
    if (open_) return std::nullopt;
    const char* name = std::getenv("DISPLAY");
    if (!name) return "the X display named by DISPLAY could not be opened: DISPLAY is not set";
    return "the X display named by DISPLAY (" + std::string(name) + ") could not be opened";
}

}  // namespace quorvane::session
