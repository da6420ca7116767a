#include "DisplayCheck.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <utility>

#include "Text.hpp"

namespace quorvane::session {

namespace {

int ignoreBrokenConnection(Display*) { return 0; }

void keepRunning(Display*, void*) {}

/// Opens the display named by DISPLAY. Xlib ends the program when a connection breaks, unless
/// its handlers let it go on: the program's connections are only these and the library's, and
/// neither may end it, so every one breaks quietly (Xlib then turns each call on it, closing it
/// too, into a no-op).
Display* openDisplay() {
    XSetIOErrorHandler(&ignoreBrokenConnection);
    Display* display = XOpenDisplay(nullptr);
    if (display) XSetIOErrorExitHandler(display, &keepRunning, nullptr);
    return display;
}

}  // namespace

DisplayCheck::~DisplayCheck() {
    if (open_) XCloseDisplay(open_);
}

std::optional<std::string> DisplayCheck::problem() {
    std::lock_guard lock(mutex_);
    Display* previous = std::exchange(open_, openDisplay());
    if (previous) XCloseDisplay(previous);
    if (open_) return std::nullopt;
    const char* name = std::getenv("DISPLAY");
    if (!name) return "the X display named by DISPLAY could not be opened: DISPLAY is not set";
    return "the X display named by DISPLAY (" + printable(name) + ") could not be opened";
}

}  // namespace quorvane::session
