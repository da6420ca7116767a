#include "network/NetlinkReachabilitySource.hpp"

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvane {

namespace {

/// A netlink socket closed on scope exit.
class NetlinkSocket {
public:
    explicit NetlinkSocket(unsigned groups) {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0) return;
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = groups;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = errno;
            ::close(fd_);
            fd_ = -1;
            errno = error;
        }
    }
    ~NetlinkSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    int fd() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

/// Sends a dump request and hands every answering message to `visit`; false (errno set) on failure.
bool dump(int fd, std::uint16_t type, const std::function<void(const nlmsghdr&)>& visit) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.rtgen_family = AF_UNSPEC;
    if (::send(fd, &request, request.header.nlmsg_len, 0) < 0) return false;

    std::vector<char> buffer(32768);
    for (;;) {
        ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // Signed and wider than the header's unsigned length, as NLMSG_OK and NLMSG_NEXT need.
        ssize_t length = received;
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type == NLMSG_DONE) return true;
            if (message->nlmsg_type == NLMSG_ERROR) {
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                errno = error->error ? -error->error : EIO;
                return false;
            }
            visit(*message);
        }
    }
}

struct Link {
    unsigned flags = 0;
    std::string name;
};

void addLink(const nlmsghdr& message, std::map<int, Link>& links) {
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    Link link{info->ifi_flags, {}};
    int length = static_cast<int>(IFLA_PAYLOAD(&message));
    for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == IFLA_IFNAME) link.name = static_cast<const char*>(RTA_DATA(attribute));
    }
    links[info->ifi_index] = link;
}

/// The output interfaces of a default route of the main table, none for other routes.
std::vector<int> defaultRouteInterfaces(const nlmsghdr& message) {
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) return {};
    unsigned table = route->rtm_table;
    std::vector<int> interfaces;
    int length = static_cast<int>(RTM_PAYLOAD(&message));
    for (auto* attribute = RTM_RTA(route); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == RTA_TABLE) {
            table = *static_cast<const std::uint32_t*>(RTA_DATA(attribute));
        } else if (attribute->rta_type == RTA_OIF) {
            interfaces.push_back(*static_cast<const int*>(RTA_DATA(attribute)));
        } else if (attribute->rta_type == RTA_MULTIPATH) {
            int remaining = static_cast<int>(RTA_PAYLOAD(attribute));
            for (auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attribute)); RTNH_OK(hop, remaining);
                 remaining -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len)), hop = RTNH_NEXT(hop)) {
                interfaces.push_back(hop->rtnh_ifindex);
            }
        }
    }
    if (table != RT_TABLE_MAIN) return {};
    return interfaces;
}

}  // namespace

std::shared_ptr<NetlinkReachabilitySource> NetlinkReachabilitySource::create() {
    NetlinkSocket probe(0);
    if (probe.fd() < 0) return nullptr;
    return std::shared_ptr<NetlinkReachabilitySource>(new NetlinkReachabilitySource());
}

NetlinkReachabilitySource::~NetlinkReachabilitySource() { stopWatching(); }

bool NetlinkReachabilitySource::setCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    return true;
}

bool NetlinkReachabilitySource::setDispatchQueue(DispatchQueuePtr queue) {
    stopWatching();
    if (!queue) return true;
    NetlinkSocket socket(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE);
    if (socket.fd() < 0) {
        lastError_ = errno;
        return false;
    }
    int wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) {
        lastError_ = errno;
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        queue_ = std::move(queue);
    }
    wakeFd_ = wakeFd;
    watcher_ = std::thread([this, fd = socket.release(), wakeFd] { watch(fd, wakeFd); });
    return true;
}

void NetlinkReachabilitySource::stopWatching() {
    if (watcher_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
        watcher_.join();
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    std::lock_guard lock(mutex_);
    queue_.reset();
}

void NetlinkReachabilitySource::watch(int socket, int wakeFd) {
    std::vector<char> buffer(32768);
    for (;;) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        // Drain the burst of change messages, then report the state once.
        while (::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
        }
        report();
    }
    ::close(socket);
}

void NetlinkReachabilitySource::report() {
    auto flags = readFlags();
    if (!flags) return;
    std::lock_guard lock(mutex_);
    if (!callback_ || !queue_) return;
    queue_->async([callback = callback_, flags = *flags] { callback(flags); });
}

std::optional<ReachabilityFlags> NetlinkReachabilitySource::readFlags() {
    NetlinkSocket socket(0);
    std::map<int, Link> links;
    std::vector<int> routeInterfaces;
    bool read = socket.fd() >= 0 &&
                dump(socket.fd(), RTM_GETLINK,
                     [&](const nlmsghdr& message) {
                         if (message.nlmsg_type == RTM_NEWLINK) addLink(message, links);
                     }) &&
                dump(socket.fd(), RTM_GETROUTE, [&](const nlmsghdr& message) {
                    if (message.nlmsg_type != RTM_NEWROUTE) return;
                    for (int index : defaultRouteInterfaces(message)) routeInterfaces.push_back(index);
                });
    if (!read) {
        lastError_ = errno;
        return std::nullopt;
    }
    bool overWWAN = false;
    bool overOther = false;
    for (int index : routeInterfaces) {
        auto link = links.find(index);
        unsigned up = IFF_UP | IFF_RUNNING;
        if (link == links.end() || (link->second.flags & up) != up) continue;
        (link->second.name.rfind("wwan", 0) == 0 ? overWWAN : overOther) = true;
    }
    ReachabilityFlags flags;
    if (overWWAN || overOther) flags.bits |= ReachabilityFlags::reachable;
    if (overWWAN && !overOther) flags.bits |= ReachabilityFlags::isWWAN;
    return flags;
}

}  // namespace quorvane
