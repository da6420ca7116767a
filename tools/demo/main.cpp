// quorvane_demo: two peers in this process connect over real WebRTC, restricted to 127.0.0.1,
// and send each other messages of several sizes through their chunk adapters: cut into frames,
// acknowledged, reassembled and checked on arrival. Prints what happened; exits 0 when every
// message arrived intact exactly once, 1 otherwise.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "log/ZephLogger.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/Pattern.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace {

using quorvane::testing::patternByte;
using quorvane::testing::patterned;
using namespace quorvane;
using SteadyClock = std::chrono::steady_clock;

const std::vector<std::size_t> messageSizes = {100, 15360, 15361, 1 << 20, 16 << 20};
/// How long one message may take, recovery of frames the channel gave up included.
constexpr auto messageTimeout = std::chrono::seconds(45);

/// One peer's view of its adapter: what arrived (checked against the pattern the other peer
/// sends), and whether anything failed.
class Peer : public ChunkAdapterDelegate {
public:
    Peer(std::string name, std::uint8_t seed) : name_(std::move(name)), seed_(seed) {}

    const std::string& name() const { return name_; }
    std::uint8_t seed() const { return seed_; }
    void setSenderSeed(std::uint8_t seed) { senderSeed_ = seed; }

    void dataChannelDidReceive(const std::vector<std::uint8_t>& data, std::uint16_t) override {
        bool intact = true;
        for (std::size_t i = 0; i < data.size() && intact; ++i) intact = data[i] == patternByte(i, senderSeed_);
        std::lock_guard lock(mutex_);
        arrivals_.push_back({data.size(), intact, SteadyClock::now()});
        changed_.notify_all();
    }
    void dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) override {
        fail("could not send message " + std::to_string(id) + " of " + std::to_string(data.size()) + " bytes");
    }
    void dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t) override {
        fail("could not receive message " + std::to_string(id));
    }
    void dataChannelDidChange(DataChannelState state) override {
        std::printf("  %s: data channel %s\n", name_.c_str(), std::string(toString(state)).c_str());
    }
    void dataChannelWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void dataChannelFiredHeartbeatTimeout() override {}

    struct Arrival {
        std::size_t size;
        bool intact;
        SteadyClock::time_point at;
    };

    /// The `count`-th arrival (1-based), once it is there; nothing after the time-out or a failure.
    std::optional<Arrival> waitForArrival(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, messageTimeout, [&] { return arrivals_.size() >= count || !failure_.empty(); });
        if (arrivals_.size() < count) return std::nullopt;
        return arrivals_[count - 1];
    }
    std::size_t arrivalCount() {
        std::lock_guard lock(mutex_);
        return arrivals_.size();
    }
    std::string failure() {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    void fail(const std::string& what) {
        std::lock_guard lock(mutex_);
        if (failure_.empty()) failure_ = name_ + ": " + what;
        changed_.notify_all();
    }

    const std::string name_;
    const std::uint8_t seed_;
    std::uint8_t senderSeed_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Arrival> arrivals_;
    std::string failure_;
};

std::string describeSize(std::size_t bytes) {
    char text[32];
    if (bytes >= (1 << 20)) {
        std::snprintf(text, sizeof text, "%zu MiB", bytes >> 20);
    } else {
        std::snprintf(text, sizeof text, "%zu bytes", bytes);
    }
    return text;
}

/// Retry requests both adapters have sent so far: each asks for frames the channel gave up.
std::size_t retryRequests(const ZephLogger& logger) {
    std::size_t count = 0;
    for (const auto& entry : logger.getLogStore()) count += entry.message == "Sent retry request for chunked message";
    return count;
}

/// Sends every message size from `from` to `to`, one at a time; false on the first problem.
bool sendAll(WebRtcChunkAdapter& adapter, Peer& from, Peer& to, const ZephLogger& logger) {
    for (auto size : messageSizes) {
        const auto expected = to.arrivalCount() + 1;
        const auto retriesBefore = retryRequests(logger);
        auto message = patterned(size, from.seed());
        const auto start = SteadyClock::now();
        adapter.sendData(std::move(message), 1);
        const auto arrival = to.waitForArrival(expected);
        if (!arrival) {
            std::printf("FAILED: %s -> %s, %s: %s\n", from.name().c_str(), to.name().c_str(), describeSize(size).c_str(),
                        to.failure().empty() && from.failure().empty() ? "not delivered in time"
                                                                       : (to.failure() + from.failure()).c_str());
            return false;
        }
        if (arrival->size != size || !arrival->intact) {
            std::printf("FAILED: %s -> %s, %s arrived as %zu bytes%s\n", from.name().c_str(), to.name().c_str(),
                        describeSize(size).c_str(), arrival->size, arrival->intact ? "" : ", corrupted");
            return false;
        }
        const double seconds = std::chrono::duration<double>(arrival->at - start).count();
        const std::size_t frames = size <= maxChunkBytes ? 1 : (size + maxChunkBytes - 1) / maxChunkBytes;
        std::printf("  %-6s -> %-6s %12s  %5zu frames  %9.1f ms  %7.1f MB/s\n", from.name().c_str(),
                    to.name().c_str(), describeSize(size).c_str(), frames, seconds * 1e3,
                    static_cast<double>(size) / seconds / 1e6);
        if (const auto retries = retryRequests(logger) - retriesBefore; retries > 0) {
            std::printf("      (the channel gave up frames of it; %zu retry request%s after 15 s without news got them again)\n",
                        retries, retries == 1 ? "" : "s");
        }
    }
    return true;
}

int run() {
    std::printf("Quorvane loopback demo: two peers in one process, WebRTC on 127.0.0.1 only\n");
    const auto start = SteadyClock::now();
    testing::LoopbackPeerPair pair;
    std::printf("  connected: offer and answer exchanged, data channel \"%s\" open on both sides in %.0f ms\n",
                pair.offerChannel()->label().c_str(),
                std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());

    auto offer = std::make_shared<Peer>("offer", 11);
    auto answer = std::make_shared<Peer>("answer", 97);
    offer->setSenderSeed(answer->seed());
    answer->setSenderSeed(offer->seed());
    // Keeps the adapters' log lines (printing none) to tell when frames had to be asked for again.
    auto logger = std::make_shared<ZephLogger>(nullptr, LogLevel::DEBUG, true);
    auto offerAdapter = std::make_shared<WebRtcChunkAdapter>(logger);
    auto answerAdapter = std::make_shared<WebRtcChunkAdapter>(logger);
    offerAdapter->setDelegate(offer);
    answerAdapter->setDelegate(answer);
    offerAdapter->set(pair.offerChannel());
    answerAdapter->set(pair.answerChannel());

    std::printf("  messages through the chunk adapters (at most %zu bytes a frame), timed from send to delivery:\n",
                maxChunkBytes);
    const bool delivered = sendAll(*offerAdapter, *offer, *answer, *logger) && sendAll(*answerAdapter, *answer, *offer, *logger);

    // Long enough for the last acknowledgements to come back; then nothing may have failed.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string failure = offer->failure() + answer->failure();
    offerAdapter->closeDataChannel();
    answerAdapter->closeDataChannel();
    if (!delivered) return 1;
    if (!failure.empty()) {
        std::printf("FAILED: %s\n", failure.c_str());
        return 1;
    }
    std::printf("Every message arrived intact, exactly once, in %.1f s in all.\n",
                std::chrono::duration<double>(SteadyClock::now() - start).count());
    return 0;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& error) {
        std::printf("FAILED: %s\n", error.what());
        return 1;
    }
}
