#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::testing {

/// One side of a session in a process of its own (quorvane_session_local): commands go to its standard
/// input, its standard output is collected line by line, its standard error goes to a temporary
/// file. Stopped by its pid (SIGKILL) when the object goes.
class PeerProcess {
public:
    /// Variables of the process's environment: a value sets one, none removes it.
    using Environment = std::map<std::string, std::optional<std::string>>;

    /// Starts quorvane_session_local with `arguments` (after the program's path), in this
    /// process's environment changed by `environment`.
    explicit PeerProcess(const std::vector<std::string>& arguments, const Environment& environment = {});
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    /// Writes one command line.
    void send(const std::string& line);
    /// Closes its standard input: the end of the typed commands.
    void closeInput();

    /// The first line from index `from` on that matches `pattern`, waiting up to `seconds`.
    /// Returns the match and its groups, none when no such line came.
    std::optional<std::vector<std::string>> waitFor(const std::string& pattern, double seconds = 30,
                                                    std::size_t from = 0);
    /// The number of lines so far; pass it as `from` to wait for lines that come after now.
    std::size_t lineCount() const;
    /// The lines so far that match `pattern`.
    std::size_t count(const std::string& pattern) const;
    /// Everything printed so far, for failure messages.
    std::string output() const;
    /// The last `lines` lines the library logged (its standard error).
    std::string libraryLog(std::size_t lines) const;
    /// How the process and its threads stand now, from /proc ("R 2, S 20, T 0" and so on), for
    /// failure messages.
    std::string threadStates() const;
    /// The lines the library logged so far that contain `text`.
    std::size_t loggedCount(const std::string& text) const;

    pid_t pid() const { return pid_; }
    /// Sends `signal` to the process.
    void signal(int signal) const;
    /// Waits up to `seconds` for the process to end; its exit status, none when it did not end
    /// (or ended by a signal).
    std::optional<int> waitForExit(double seconds);

private:
    void readLines(int fd);

    pid_t pid_ = -1;
    int input_ = -1;
    std::string logPath_;
    bool exited_ = false;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

}  // namespace quorvane::testing
