#include "Console.hpp"

namespace quorvane::session {

void Console::clearProgressLocked() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", out_);
    progressShown_ = false;
}

void Console::line(const std::string& text) {
    std::lock_guard lock(mutex_);
    clearProgressLocked();
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void Console::progress(const std::string& text, bool finished) {
    std::lock_guard lock(mutex_);
    if (!live_) {
        std::fputs(text.c_str(), out_);
        std::fputc('\n', out_);
    } else {
        clearProgressLocked();
        std::fputs(text.c_str(), out_);
        if (finished) {
            std::fputc('\n', out_);
        } else {
            progressShown_ = true;
        }
    }
    std::fflush(out_);
}

}  // namespace quorvane::session
