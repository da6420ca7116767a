#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "rtc/RtcDataChannel.hpp"
#include "support/PeerSide.hpp"

namespace quorvane::testing {

/// One side of a WebRTC peer connection on loopback whose other side may run in another process,
/// with WebRTC threads of its own: the offer, the answer and the candidates travel over a
/// connected stream socket, which afterwards carries short text lines between the two sides.
class SocketPeer {
public:
    enum class Role { offer, answer };

    /// Connects over `socket`, which it owns from now on; the offer side opens the session's data
    /// channel. Throws std::runtime_error when a step fails or the channel is not open within
    /// `timeout`.
    SocketPeer(int socket, Role role, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    /// Releases the channel, closes the connection and the socket.
    ~SocketPeer();
    SocketPeer(const SocketPeer&) = delete;
    SocketPeer& operator=(const SocketPeer&) = delete;

    const std::shared_ptr<rtc::RtcDataChannel>& channel() const { return channel_; }

    /// Sends one line (without a line break) to the other side.
    void sendLine(const std::string& line);
    /// The next line from the other side; nothing once the socket has closed or `timeout` passed.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);

private:
    void send(char kind, const std::string& payload);
    /// Reads records until the socket closes: the negotiation, then lines.
    void read();
    void handle(char kind, const std::string& payload);
    void shutDown();

    int socket_;
    const Role role_;
    std::shared_ptr<PeerSide> side_;
    std::shared_ptr<rtc::RtcDataChannel> channel_;
    std::mutex writeMutex_;
    std::thread reader_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    bool closed_ = false;
};

}  // namespace quorvane::testing
