#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace quorvane::session {

/// The program's standard output, shared by every thread. Whole lines never interleave. On a
/// terminal one progress line is redrawn in place below the others; elsewhere (a pipe, a file)
/// each progress text is a line of its own.
class Console {
public:
    /// `live`: redraw progress in place (standard output is a terminal).
    Console(std::FILE* out, bool live) : out_(out), live_(live) {}

    bool isLive() const { return live_; }

    /// Prints one whole line.
    void line(const std::string& text);
    /// Shows `text` as the current progress; `finished` ends that progress line.
    void progress(const std::string& text, bool finished);

private:
    void clearProgressLocked();

    std::mutex mutex_;
    std::FILE* out_;
    const bool live_;
    bool progressShown_ = false;
};

}  // namespace quorvane::session
