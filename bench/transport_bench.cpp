// Throughput of two chunk adapters over the in-memory channel pair, against the same bytes pushed
// through the bare pair in the same run: 100-byte messages (messages per second) and 1 MiB
// messages (MB/s). Prints the ratio of each adapter figure to its baseline.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "support/InMemoryDataChannel.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

using namespace quorvane;
using quorvane::testing::InMemoryDataChannel;

namespace {

constexpr std::size_t smallSize = 100;
constexpr std::size_t largeSize = 1 << 20;
constexpr int smallBatch = 2000;
constexpr int largeBatch = 8;

/// Counts what arrives and lets the benchmark wait for a number of arrivals.
class Arrivals {
public:
    void add() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    void waitFor(std::uint64_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
};

class CountingDelegate : public ChunkAdapterDelegate {
public:
    void dataChannelDidChange(DataChannelState) override {}
    void dataChannelDidReceive(std::vector<std::uint8_t>, std::uint16_t) override { arrivals.add(); }
    void dataChannelWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void dataChannelFailedToSend(const std::vector<std::uint8_t>&, std::uint16_t) override {}
    void dataChannelFailedToReceiveMessage(std::uint16_t, std::uint16_t) override {}
    void dataChannelFiredHeartbeatTimeout() override {}
    Arrivals arrivals;
};

class CountingObserver : public DataChannelObserver {
public:
    void dataChannelDidChangeState(DataChannelState) override {}
    void dataChannelDidReceive(std::vector<std::uint8_t>, bool) override { arrivals.add(); }
    void dataChannelDidChangeBufferedAmount(std::uint64_t) override {}
    Arrivals arrivals;
};

void adapterPair(benchmark::State& state, std::size_t size, int batch) {
    auto [senderEnd, receiverEnd] = InMemoryDataChannel::makePair();
    auto sender = std::make_shared<WebRtcChunkAdapter>(nullptr);
    auto receiver = std::make_shared<WebRtcChunkAdapter>(nullptr);
    auto delegate = std::make_shared<CountingDelegate>();
    receiver->setDelegate(delegate);
    sender->set(senderEnd);
    receiver->set(receiverEnd);
    senderEnd->open();
    const std::vector<std::uint8_t> message(size, 0x5a);
    std::uint64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) sender->sendData(message, 1);
        sent += batch;
        delegate->arrivals.waitFor(sent);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(sent));
    state.SetBytesProcessed(static_cast<std::int64_t>(sent * size));
    sender->closeDataChannel();
    receiver->closeDataChannel();
}

void bareChannel(benchmark::State& state, std::size_t size, int batch) {
    auto [senderEnd, receiverEnd] = InMemoryDataChannel::makePair();
    auto observer = std::make_shared<CountingObserver>();
    receiverEnd->setObserver(observer);
    senderEnd->open();
    const std::vector<std::uint8_t> message(size, 0x5a);
    std::uint64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) senderEnd->send(message, true);
        sent += batch;
        observer->arrivals.waitFor(sent);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(sent));
    state.SetBytesProcessed(static_cast<std::int64_t>(sent * size));
}

BENCHMARK_CAPTURE(adapterPair, small, smallSize, smallBatch)->UseRealTime();
BENCHMARK_CAPTURE(bareChannel, small, smallSize, smallBatch)->UseRealTime();
BENCHMARK_CAPTURE(adapterPair, large, largeSize, largeBatch)->UseRealTime();
BENCHMARK_CAPTURE(bareChannel, large, largeSize, largeBatch)->UseRealTime();

/// The console output, plus the rates of each run kept for the ratios.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const double seconds = run.real_accumulated_time;
            if (seconds <= 0) continue;
            rates[run.benchmark_name()] = {run.counters.at("items_per_second").value,
                                           run.counters.at("bytes_per_second").value / 1e6};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Rate {
        double messagesPerSecond;
        double megabytesPerSecond;
    };
    std::map<std::string, Rate> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& rates = reporter.rates;
    auto find = [&](const std::string& prefix) -> const RateReporter::Rate* {
        for (const auto& [name, rate] : rates) {
            if (name.rfind(prefix, 0) == 0) return &rate;
        }
        return nullptr;
    };
    const auto* adapterSmall = find("adapterPair/small");
    const auto* bareSmall = find("bareChannel/small");
    const auto* adapterLarge = find("adapterPair/large");
    const auto* bareLarge = find("bareChannel/large");
    if (adapterSmall && bareSmall) {
        std::printf("100-byte messages: adapter %.0f msg/s, bare channel %.0f msg/s, ratio %.3f\n",
                    adapterSmall->messagesPerSecond, bareSmall->messagesPerSecond,
                    adapterSmall->messagesPerSecond / bareSmall->messagesPerSecond);
    }
    if (adapterLarge && bareLarge) {
        std::printf("1 MiB messages: adapter %.1f MB/s, bare channel %.1f MB/s, ratio %.3f\n",
                    adapterLarge->megabytesPerSecond, bareLarge->megabytesPerSecond,
                    adapterLarge->megabytesPerSecond / bareLarge->megabytesPerSecond);
    }
    benchmark::Shutdown();
    return 0;
}
