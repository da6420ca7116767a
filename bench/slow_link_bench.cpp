// The message layer's send queue and channel wrapper over the in-memory channel throttled to
// 50 kB/s, 1 MB/s and 10 MB/s, on the real clock:
//  - bulk throughput: the send queue kept full of message frames; the bytes that reach the far
//    end per second, over the same link fed straight by a writer that keeps it busy (the
//    baseline);
//  - how long a priority frame (a control frame) written during that transfer takes to leave
//    the channel, once a second (aim: 1.5 s at most).
// Flags: --seconds=N stretches every run to N seconds (default: 16 at 50 kB/s, 6 above).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/InMemoryDataChannel.hpp"
#include "support/Quantile.hpp"
#include "transport/DataChannelWrapper.hpp"
#include "transport/SendQueue.hpp"

namespace {

using namespace quorvane;
using quorvane::testing::InMemoryDataChannel;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t bulkFrameBytes = 15400;  // a full chunk and its frame around it
constexpr std::size_t priorityFrameBytes = 40;
constexpr double warmUpSeconds = 1.0;

double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

/// Counts the bytes that reach the far end.
class ByteCounter : public DataChannelObserver {
public:
    void dataChannelDidChangeState(DataChannelState) override {}
    void dataChannelDidChangeBufferedAmount(std::uint64_t) override {}
    void dataChannelDidReceive(std::vector<std::uint8_t> data, bool) override { bytes += data.size(); }
    std::atomic<std::uint64_t> bytes{0};
};

/// The bytes a second that reached `counter` from the end of the warm-up to `seconds`.
double measureRate(const ByteCounter& counter, SteadyClock::time_point start, double seconds) {
    std::this_thread::sleep_until(start + std::chrono::duration<double>(warmUpSeconds));
    const std::uint64_t before = counter.bytes;
    std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
    return static_cast<double>(counter.bytes - before) / (seconds - warmUpSeconds);
}

/// A pair of channel ends, the near one throttled, the far one counting.
struct Link {
    explicit Link(double rate) {
        std::tie(near, far) = InMemoryDataChannel::makePair();
        far->setObserver(counter);
        near->setRate(rate);
        near->open();
    }
    ~Link() { near->close(); }
    InMemoryDataChannel::Pointer near, far;
    std::shared_ptr<ByteCounter> counter = std::make_shared<ByteCounter>();
};

/// The link fed straight: a writer keeps two seconds of it buffered.
double bareRate(double rate, double seconds) {
    Link link(rate);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const std::vector<std::uint8_t> frame(bulkFrameBytes, 0x5a);
        while (!stop) {
            while (static_cast<double>(link.near->bufferedAmount()) < 2 * rate) link.near->send(frame, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const double measured = measureRate(*link.counter, SteadyClock::now(), seconds);
    stop = true;
    writer.join();
    return measured;
}

struct LayerFigures {
    double rate = 0;
    std::vector<double> priorityDelays;  // seconds, of the priority frames that left
    std::size_t prioritySent = 0;
};

/// The send queue kept full of bulk frames through the wrapper; a priority frame once a second.
LayerFigures layerRun(double rate, double seconds) {
    Link link(rate);
    auto queue = DispatchQueue::create("WebRtcChunkAdapter");
    auto wrapper = DataChannelWrapper::create(link.near, nullptr, queue, {});
    wrapper->attach();
    auto sendQueue = std::make_shared<SendQueue>(queue);
    sendQueue->set(wrapper);
    sendQueue->didConnect();

    // Each written bulk frame queues the next: the queue never runs dry.
    auto feed = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakFeed = feed;
    *feed = [sendQueue, queue, weakFeed] {
        sendQueue->enqueue([] { return SendQueue::Frame(bulkFrameBytes, 0x5a); })
            .done(
                [weakFeed] {
                    if (auto next = weakFeed.lock()) (*next)();
                },
                queue);
    };
    for (int i = 0; i < 64; ++i) (*feed)();

    // Shared with the passed-on reports, which may come after the run (when the channel closes):
    // those are not counted.
    struct Delays {
        std::mutex mutex;
        bool running = true;
        LayerFigures figures;
    };
    auto delays = std::make_shared<Delays>();
    const auto start = SteadyClock::now();
    std::thread priority([&] {
        for (double at = warmUpSeconds; at < seconds - 1; at += 1.0) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
            const auto written = SteadyClock::now();
            auto leftChannel = [delays, written] {
                std::lock_guard lock(delays->mutex);
                if (delays->running) delays->figures.priorityDelays.push_back(secondsSince(written));
            };
            sendQueue->enqueue([] { return SendQueue::Frame(priorityFrameBytes, 0x11); }, true, true, leftChannel);
            std::lock_guard lock(delays->mutex);
            ++delays->figures.prioritySent;
        }
    });
    const double measured = measureRate(*link.counter, start, seconds);
    priority.join();
    std::lock_guard lock(delays->mutex);
    delays->running = false;
    delays->figures.rate = measured;
    queue->async([feed = std::move(feed)] {});
    return delays->figures;
}

std::string formatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1e6) {
        std::snprintf(text, sizeof text, "%.2f MB/s", bytesPerSecond / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1e3);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    double stretched = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) stretched = std::atof(argv[i] + 10);
    }
    for (double rate : {50e3, 1e6, 10e6}) {
        const double seconds = stretched > 0 ? stretched : (rate < 1e6 ? 16.0 : 6.0);
        const double baseline = bareRate(rate, 6.0);
        const auto layer = layerRun(rate, seconds);
        std::printf("link %s: bulk %s through the send queue, bare link %s, ratio %.3f\n", formatRate(rate).c_str(),
                    formatRate(layer.rate).c_str(), formatRate(baseline).c_str(), layer.rate / baseline);
        if (layer.priorityDelays.empty()) {
            std::printf("  priority frame: none of %zu left within the %.0f s run\n", layer.prioritySent, seconds);
        } else {
            const double worst = *std::max_element(layer.priorityDelays.begin(), layer.priorityDelays.end());
            std::printf("  priority frame left after p50 %.3f s, max %.3f s (%zu of %zu left; aim 1.5 s, "
                        "max/aim %.2f)\n",
                        quorvane::testing::quantile(layer.priorityDelays, 0.5), worst, layer.priorityDelays.size(),
                        layer.prioritySent, worst / 1.5);
        }
        std::fflush(stdout);
    }
    return 0;
}
