#include "StopSignals.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace quorvane::session {

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
std::atomic<int> stops{0};
std::atomic<int> wakeFd{-1};

/// `line` without the CR of a CR LF line end (as files written on Windows have them).
std::string withoutCarriageReturn(std::string line) {
    if (line.ends_with('\r')) line.pop_back();
    return line;
}

void onStop(int number) {
    if (stops.fetch_add(1) > 0) _exit(128 + number);
    const char byte = static_cast<char>(number);
    (void)!write(wakeFd.load(), &byte, 1);
}

}  // namespace

StopSignals::StopSignals() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for the stop signals");
    read_ = ends[0];
    stops = 0;
    wakeFd = ends[1];
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt_);
    sigaction(SIGTERM, &action, &previousTerminate_);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &previousInterrupt_, nullptr);
    sigaction(SIGTERM, &previousTerminate_, nullptr);
    close(wakeFd.exchange(-1));
    close(read_);
}

Doorbell::Doorbell() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for a doorbell");
    read_ = ends[0];
    write_ = ends[1];
}

Doorbell::~Doorbell() {
    close(read_);
    close(write_);
}

void Doorbell::ring() {
    const char byte = 1;
    (void)!write(write_, &byte, 1);
}

int waitUnlessStopped(int fd, int stop) {
    pollfd ready[2] = {{stop, POLLIN, 0}, {fd, POLLIN, 0}};
    while (poll(ready, 2, -1) < 0) {
        // Nothing but a signal can make this poll fail; then let the caller read `fd` and fail.
        if (errno != EINTR) return 0;
    }
    if (ready[0].revents == 0) return 0;
    char number = 0;
    return read(stop, &number, 1) == 1 ? number : SIGTERM;
}

bool InputLines::fill() {
    stoppedBy_ = waitUnlessStopped(input_, stop_);
    if (stoppedBy_ != 0) return false;
    char buffer[4096];
    ssize_t got;
    while ((got = read(input_, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    if (got <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

std::optional<std::string> InputLines::next() {
    while (!ended_ && stoppedBy_ == 0) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return withoutCarriageReturn(std::move(line));
        }
        if (!fill()) ended_ = true;
    }
    // A last line without its end counts, unless a stop signal came.
    if (stoppedBy_ != 0 || pending_.empty()) return std::nullopt;
    return withoutCarriageReturn(std::exchange(pending_, {}));
}

}  // namespace quorvane::session
