#include "support/VanishingDisplay.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "support/XvfbDisplay.hpp"

namespace quorvane::testing {

/// Accepts connections on a free port of 127.0.0.1 and joins each to the unix socket of a local
/// display, until it is released.
class VanishingDisplay::Forwarder {
public:
    explicit Forwarder(const std::string& serverName) : socketPath_("/tmp/.X11-unix/X" + serverName.substr(1)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || pipe(stop_) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }

    ~Forwarder() {
        if (thread_.joinable()) {
            (void)write(stop_[1], "x", 1);
            thread_.join();
        }
        for (int fd : {listener_, stop_[0], stop_[1]}) {
            if (fd >= 0) close(fd);
        }
    }

    /// The port it listens on; 0 when it does not.
    int port() const { return port_; }

private:
    void run() {
        std::map<int, int> partners;  // each end of a forwarded connection, to the other end
        while (true) {
            std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const auto& [fd, partner] : partners) fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0) break;
            if (fds[1].revents != 0) accept(partners);
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents == 0 || !partners.contains(fds[i].fd)) continue;
                if (!pass(fds[i].fd, partners.at(fds[i].fd))) {
                    const int partner = partners.at(fds[i].fd);
                    partners.erase(fds[i].fd);
                    partners.erase(partner);
                    close(fds[i].fd);
                    close(partner);
                }
            }
        }
        for (const auto& [fd, partner] : partners) close(fd);
    }

    void accept(std::map<int, int>& partners) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath_.c_str(), sizeof address.sun_path - 1);
        if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(client);
            close(server);
            return;
        }
        partners[client] = server;
        partners[server] = client;
    }

    /// Passes what `from` has on to `to`; false once either end is closed.
    static bool pass(int from, int to) {
        char buffer[65536];
        const ssize_t got = read(from, buffer, sizeof buffer);
        for (ssize_t sent = 0, written = 0; sent < got; sent += written) {
            if ((written = write(to, buffer + sent, got - sent)) <= 0) return false;
        }
        return got > 0;
    }

    const std::string socketPath_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
};

VanishingDisplay::VanishingDisplay(Way way) {
    if (way == Way::serverKilled) {
        const std::string name = XvfbDisplay::ownName();
        server_ = std::make_unique<XvfbDisplay>(name);
        if (server_->name() == name) name_ = name;
        return;
    }
    server_ = std::make_unique<XvfbDisplay>(64, 64);
    if (server_->name().empty()) return;
    forwarder_ = std::make_unique<Forwarder>(server_->name());
    // Display N of a host is its TCP port 6000 + N; free ports lie far above 6000.
    if (forwarder_->port() > 6000) name_ = "127.0.0.1:" + std::to_string(forwarder_->port() - 6000);
}

VanishingDisplay::~VanishingDisplay() = default;

void VanishingDisplay::goAway() {
    if (forwarder_) {
        forwarder_.reset();
    } else {
        server_.reset();
    }
}

}  // namespace quorvane::testing
