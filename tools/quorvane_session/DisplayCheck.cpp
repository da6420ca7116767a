#include "DisplayCheck.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <utility>

namespace quorvane::session {

DisplayCheck::~DisplayCheck() {
    if (open_) XCloseDisplay(open_);
}

std::optional<std::string> DisplayCheck::problem() {
    std::lock_guard lock(mutex_);
    Display* previous = std::exchange(open_, XOpenDisplay(nullptr));
    if (previous) XCloseDisplay(previous);
    if (open_) return std::nullopt;
    const char* name = std::getenv("DISPLAY");
    if (!name) return "the X display named by DISPLAY could not be opened: DISPLAY is not set";
    return "the X display named by DISPLAY (" + std::string(name) + ") could not be opened";
}

}  // namespace quorvane::session
