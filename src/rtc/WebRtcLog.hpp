#pragma once

#include <memory>

namespace quorvane {
class ZephLogger;
}

namespace quorvane::rtc {

/// WebRTC logs for the whole process, not for a connection. Once installed, its lines no longer
/// reach the console: each goes to every logger that a live WebRtcLog instance forwards to (the
/// same logger once), errors at debug and warnings at trace. A line logged while none lives is
/// dropped.
class WebRtcLog {
public:
    /// Takes WebRTC's lines off the console for good; later calls do nothing.
    static void install();

    /// Forwards WebRTC's lines to `logger` while this lives; a null logger gets none.
    explicit WebRtcLog(std::shared_ptr<ZephLogger> logger);
    ~WebRtcLog();
    WebRtcLog(const WebRtcLog&) = delete;
    WebRtcLog& operator=(const WebRtcLog&) = delete;

private:
    std::shared_ptr<ZephLogger> logger_;
};

}  // namespace quorvane::rtc
