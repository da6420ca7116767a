#include "support/XvfbDisplay.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvane::testing {

XvfbDisplay::XvfbDisplay(int width, int height, const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    start(std::move(arguments));
}

XvfbDisplay::XvfbDisplay(const std::string& name) { start({name, "-screen", "0", "64x64x24"}); }

XvfbDisplay::~XvfbDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

std::string XvfbDisplay::ownName() { return ":" + std::to_string(10000 + getpid()); }

void XvfbDisplay::start(std::vector<std::string> arguments) {
    int fds[2];
    if (pipe(fds) != 0) return;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    arguments.insert(arguments.begin(), {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp"});
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const bool spawned = posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv.data(), environ) == 0;
    close(fds[1]);
    if (!spawned) pid_ = -1;
    // The server writes its display number once it accepts clients.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (spawned && poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    // Clients connect through the display's socket: wait until it is there.
    const std::string socket = "/tmp/.X11-unix/X" + number;
    for (int tries = 0; tries < 500 && access(socket.c_str(), F_OK) != 0; ++tries) usleep(10000);
    name_ = ":" + number;
}

}  // namespace quorvane::testing
