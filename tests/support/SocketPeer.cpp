#include "support/SocketPeer.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Record kinds on the socket: a one-byte kind, a 32-bit length, the payload.
constexpr char offerRecord = 'o';
constexpr char answerRecord = 'a';
constexpr char candidateRecord = 'c';
constexpr char lineRecord = 'l';

bool readFully(int socket, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(socket, bytes, size);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string encode(const rtc::IceCandidate& candidate) {
    return candidate.sdpMid + '\n' + std::to_string(candidate.sdpMLineIndex) + '\n' + candidate.sdp;
}

rtc::IceCandidate decodeCandidate(const std::string& text) {
    const auto first = text.find('\n');
    const auto second = text.find('\n', first + 1);
    return {text.substr(0, first), std::stoi(text.substr(first + 1, second - first - 1)), text.substr(second + 1)};
}

}  // namespace

SocketPeer::SocketPeer(int socket, Role role, std::chrono::milliseconds timeout)
    : socket_(socket),
      role_(role),
      side_(std::make_shared<PeerSide>([this](rtc::IceCandidate candidate) { send(candidateRecord, encode(candidate)); })) {
    const auto deadline = SteadyClock::now() + timeout;
    auto factory = rtc::PeerConnectionFactory::shared();
    factory->setLoopbackOnly(true);
    side_->setConnection(factory->createPeerConnection({}, side_));
    reader_ = std::thread([this] { read(); });
    try {
        auto connection = side_->connection();
        if (!connection) throw std::runtime_error("No peer connection");
        if (role_ == Role::offer) {
            channel_ = connection->createDataChannel();
            if (!channel_) throw std::runtime_error("No data channel");
            auto offer = connection->createOffer(std::nullopt, std::nullopt).wait();
            connection->setLocalDescription(rtc::SdpType::offer, offer).wait();
            send(offerRecord, offer);
        } else {
            channel_ = side_->waitForChannel(deadline);
            if (!channel_) throw std::runtime_error("The answer side received no data channel");
        }
        while (channel_->state() != DataChannelState::open) {
            if (SteadyClock::now() > deadline) throw std::runtime_error("The data channel did not open");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } catch (...) {
        shutDown();
        throw;
    }
}

SocketPeer::~SocketPeer() { shutDown(); }

void SocketPeer::shutDown() {
    // The reader ends first: it may be using the connection.
    ::shutdown(socket_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    channel_.reset();
    side_->setConnection(nullptr);
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void SocketPeer::sendLine(const std::string& line) { send(lineRecord, line); }

std::optional<std::string> SocketPeer::readLine(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return !lines_.empty() || closed_; });
    if (lines_.empty()) return std::nullopt;
    auto line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

void SocketPeer::send(char kind, const std::string& payload) {
    std::vector<char> record(1 + sizeof(std::uint32_t) + payload.size());
    record[0] = kind;
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::memcpy(record.data() + 1, &length, sizeof length);
    std::memcpy(record.data() + 1 + sizeof length, payload.data(), payload.size());
    std::lock_guard lock(writeMutex_);
    std::size_t written = 0;
    while (written < record.size()) {
        const ssize_t sent = ::send(socket_, record.data() + written, record.size() - written, MSG_NOSIGNAL);
        if (sent <= 0) return;  // the other side is gone; its reader notices
        written += static_cast<std::size_t>(sent);
    }
}

void SocketPeer::read() {
    for (;;) {
        char kind = 0;
        std::uint32_t length = 0;
        if (!readFully(socket_, &kind, 1) || !readFully(socket_, &length, sizeof length)) break;
        std::string payload(length, '\0');
        if (!readFully(socket_, payload.data(), length)) break;
        try {
            handle(kind, payload);
        } catch (const std::exception&) {
            break;  // the negotiation failed: the constructor times out
        }
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void SocketPeer::handle(char kind, const std::string& payload) {
    switch (kind) {
        case offerRecord: {
            auto connection = side_->connection();
            connection->setRemoteDescription(rtc::SdpType::offer, payload).wait();
            side_->remoteDescriptionApplied();
            auto answer = connection->createAnswer(std::nullopt, std::nullopt).wait();
            connection->setLocalDescription(rtc::SdpType::answer, answer).wait();
            send(answerRecord, answer);
            break;
        }
        case answerRecord:
            side_->connection()->setRemoteDescription(rtc::SdpType::answer, payload).wait();
            side_->remoteDescriptionApplied();
            break;
        case candidateRecord:
            side_->addRemoteCandidate(decodeCandidate(payload));
            break;
        case lineRecord: {
            std::lock_guard lock(mutex_);
            lines_.push_back(payload);
            changed_.notify_all();
            break;
        }
        default:
            throw std::runtime_error("Unknown record on the peer socket");
    }
}

}  // namespace quorvane::testing
