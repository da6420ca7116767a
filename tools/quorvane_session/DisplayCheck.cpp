#include "DisplayCheck.hpp"

#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <utility>

namespace quorvane::session {

namespace {

/// Closes `display`, unless its server has closed the connection: Xlib would end the process on
/// closing it then, so it is left open.
void letGo(Display* display) {
    if (!display) return;
    pollfd connection{XConnectionNumber(display), POLLIN, 0};
    if (poll(&connection, 1, 0) == 1 && (connection.revents & (POLLHUP | POLLERR)) != 0) return;
    XCloseDisplay(display);
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
