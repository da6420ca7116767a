#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvane::testing {

/// An X server in memory (Xvfb) for as long as the object lives.
class XvfbDisplay {
public:
    /// Starts a server with a screen of `width` x `height` on a free display that it picks
    /// itself; `options` are added to its command line.
    XvfbDisplay(int width, int height, const std::vector<std::string>& options = {});
    /// Starts a server with a small screen on display `name` (":N").
    explicit XvfbDisplay(const std::string& name);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    /// A display for this process alone, from its pid: far above the lowest free displays that
    /// servers picking their display themselves take, and apart from other processes' own.
    static std::string ownName();

    /// For example ":1"; empty when the server did not start.
    const std::string& name() const { return name_; }

private:
    void start(std::vector<std::string> arguments);

    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace quorvane::testing
