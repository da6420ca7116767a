#pragma once

#include <signal.h>

#include <optional>
#include <string>

namespace quorvane::session {

/// SIGINT and SIGTERM as a request to leave. The first one makes fd() readable, with the signal's
/// number as its byte; a second one ends the process at once (status 128 + its number). The
/// handler only writes that byte or exits. One at a time per process; the previous handlers are
/// restored when it goes.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// Readable once a stop signal came.
    int fd() const { return read_; }

private:
    int read_ = -1;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

/// A pipe that becomes readable once rung; it may be rung from any thread, and more than once.
class Doorbell {
public:
    Doorbell();
    ~Doorbell();
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    void ring();
    /// Readable once rung.
    int fd() const { return read_; }

private:
    int read_ = -1;
    int write_ = -1;
};

/// Waits until `fd` is readable or a stop signal came (`stop`, StopSignals::fd()): the signal's
/// number, 0 when `fd` became readable first.
int waitUnlessStopped(int fd, int stop);

/// The lines typed on a file descriptor, read until its end or until a stop signal came.
class InputLines {
public:
    InputLines(int input, int stop) : input_(input), stop_(stop) {}

    /// The next line, without its end (LF or CR LF); none at the end of the input or once a stop
    /// signal came.
    std::optional<std::string> next();
    /// The number of the stop signal that ended the input, 0 when none did.
    int stoppedBy() const { return stoppedBy_; }

private:
    /// Reads what the input has; false at its end or once a stop signal came.
    bool fill();

    const int input_;
    const int stop_;
    std::string pending_;
    bool ended_ = false;
    int stoppedBy_ = 0;
};

}  // namespace quorvane::session
