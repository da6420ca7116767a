#include "PeerProcess.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

extern char** environ;

namespace quorvane::testing {

namespace {

/// This process's environment, changed by `changes`, as NAME=VALUE entries.
std::vector<std::string> environmentWith(const PeerProcess::Environment& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.contains(text.substr(0, text.find('=')))) entries.push_back(text);
    }
    for (const auto& [name, value] : changes) {
        if (value) entries.push_back(name + "=" + *value);
    }
    return entries;
}

}  // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& arguments, const Environment& environment) {
    // A command written to a peer that has just ended must fail the write, not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    // Close-on-exec: a side started later must not hold this one's input open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    char logPath[] = "/tmp/acceptance-peer-XXXXXX";
    const int log = mkstemp(logPath);
    if (log < 0) throw std::runtime_error("no log file");
    logPath_ = logPath;
    std::vector<std::string> command = {ACCEPTANCE_PEER};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    auto variables = environmentWith(environment);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        // The library's log lines, kept for failure messages.
        dup2(log, STDERR_FILENO);
        close(log);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(log);
    input_ = in[1];
    reader_ = std::thread([this, fd = out[0]] { readLines(fd); });
}

PeerProcess::~PeerProcess() {
    if (!exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closeInput();
    reader_.join();
    unlink(logPath_.c_str());
}

void PeerProcess::readLines(int fd) {
    std::string pending;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(pending.substr(0, end));
            }
            changed_.notify_all();
            pending.erase(0, end + 1);
        }
    }
    close(fd);
}

void PeerProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    const auto written = write(input_, text.data(), text.size());
    if (written == static_cast<ssize_t>(text.size())) return;
    std::string why = written < 0 ? std::strerror(errno) : "a short write";
    int status = 0;
    if (!exited_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        why += WIFSIGNALED(status) ? "; the peer was killed by signal " + std::to_string(WTERMSIG(status))
                                   : "; the peer exited with status " + std::to_string(WEXITSTATUS(status));
    }
    throw std::runtime_error("cannot write to the peer (" + why + "); its output:\n" + output() +
                             "its last log lines:\n" + libraryLog(40));
}

void PeerProcess::closeInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

std::optional<std::vector<std::string>> PeerProcess::waitFor(const std::string& pattern, double seconds,
                                                             std::size_t from) {
    const std::regex expression(pattern);
    std::unique_lock lock(mutex_);
    std::optional<std::vector<std::string>> found;
    changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
        for (std::size_t i = from; i < lines_.size(); ++i) {
            std::smatch match;
            if (std::regex_search(lines_[i], match, expression)) {
                found.emplace(match.begin(), match.end());
                return true;
            }
        }
        return false;
    });
    return found;
}

std::size_t PeerProcess::lineCount() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

std::size_t PeerProcess::count(const std::string& pattern) const {
    const std::regex expression(pattern);
    std::lock_guard lock(mutex_);
    std::size_t matches = 0;
    for (const auto& line : lines_) matches += std::regex_search(line, expression) ? 1 : 0;
    return matches;
}

std::string PeerProcess::output() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : lines_) text += line + "\n";
    return text;
}

std::string PeerProcess::libraryLog(std::size_t lines) const {
    std::ifstream in(logPath_);
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
        last.push_back(line);
        if (last.size() > lines) last.pop_front();
    }
    std::string text;
    for (const auto& line : last) text += line + "\n";
    return text;
}

std::string PeerProcess::threadStates() const {
    std::map<char, int> states;
    const auto tasks = "/proc/" + std::to_string(pid_) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto end = line.rfind(')');  // the state follows the command's name in parentheses
        if (end != std::string::npos && end + 2 < line.size()) ++states[line[end + 2]];
    }
    std::string text;
    for (const auto& [state, count] : states) {
        if (!text.empty()) text += ", ";
        text += state + (" " + std::to_string(count));
    }
    return text.empty() ? "gone" : text;
}

std::size_t PeerProcess::loggedCount(const std::string& text) const {
    std::ifstream in(logPath_);
    std::size_t matches = 0;
    for (std::string line; std::getline(in, line);) matches += line.find(text) != std::string::npos ? 1 : 0;
    return matches;
}

void PeerProcess::signal(int number) const { kill(pid_, number); }

std::optional<int> PeerProcess::waitForExit(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    exited_ = true;
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

}  // namespace quorvane::testing
