// The data channel on loopback WebRTC, in one run:
//  (a) the bare channel's throughput with full-chunk frames behind the message layer's
//      buffered-amount gate, the baseline;
//  (b) the throughput of two chunk adapters carrying 1 MiB and 64 MiB messages one way;
//  (c) the round trip of 100-byte messages through the adapters (p50, p99).
// Prints each (b) figure over (a). Both count message bytes: (a) sends the very frames the
// adapter cuts a 64 MiB message into, so the framing weighs the same on both sides.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/ChannelEndpoint.hpp"
#include "support/ChunkAdapterPair.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "transport/Chunker.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace {

using namespace quorvane;
using quorvane::testing::ChannelEndpoint;
using quorvane::testing::ChunkAdapterPair;
using quorvane::testing::LoopbackPeerPair;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t rawMessageBytes = 64 << 20;

/// A fresh association loses a few frames in its first bulk transfer and needs time to reach
/// its full rate: every benchmark moves this much first, unmeasured.
constexpr std::size_t warmUpBytes = 8 << 20;

/// (a) Bare channel: the frames of a 64 MiB message one way, written behind the gate (closes at
/// >= 10485760 bytes buffered, opens again at <= 16384). Time runs from the first write to the
/// last arrival; frames the channel gave up are not counted as carried.
void rawChannel(benchmark::State& state) {
    LoopbackPeerPair pair;
    auto sender = ChannelEndpoint::attach(pair.offerChannel(), false, {10485760, 16384});
    auto receiver = ChannelEndpoint::attach(pair.answerChannel(), false);
    const Chunker message(std::vector<std::uint8_t>(rawMessageBytes, 0x5a), 0, 1);
    const auto& frames = *message.chunks();

    auto sendAll = [&](std::size_t count) {
        const auto before = receiver->messageCount();
        std::size_t sent = 0;
        for (const auto& [position, frame] : frames) {
            if (sent++ == count) break;
            sender->send(frame);
        }
        receiver->waitForMessagesOrQuiet(before + std::min(count, frames.size()), 2s);
        return receiver->messageCount() - before;
    };
    sendAll(warmUpBytes / maxChunkBytes);

    std::uint64_t carried = 0;
    std::uint64_t sent = 0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        const auto arrived = sendAll(frames.size());
        state.SetIterationTime(std::chrono::duration<double>(receiver->lastArrival() - start).count());
        // Every frame but the last carries a full chunk.
        carried += std::min<std::uint64_t>(arrived * maxChunkBytes, rawMessageBytes);
        sent += rawMessageBytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(carried));
    state.counters["carried"] = static_cast<double>(carried) / static_cast<double>(sent);
}

/// (b) Adapter pair: one message of `state.range(0)` bytes at a time, from sendData to its
/// delivery on the other side.
void adapterPair(benchmark::State& state) {
    ChunkAdapterPair adapters(false);
    const std::vector<std::uint8_t> message(static_cast<std::size_t>(state.range(0)), 0x5a);
    std::uint64_t delivered = 0;
    for (std::size_t warm = 0; warm < warmUpBytes; warm += message.size()) {
        adapters.sender->sendData(message, 1);
        if (!adapters.receiverHears->waitFor(++delivered, 120s)) return state.SkipWithError("warm-up failed");
    }
    for (auto _ : state) {
        auto copy = message;  // sendData takes its bytes; the copy is not the adapter's cost
        const auto start = SteadyClock::now();
        adapters.sender->sendData(std::move(copy), 1);
        if (!adapters.receiverHears->waitFor(++delivered, 120s)) return state.SkipWithError("message not delivered");
        state.SetIterationTime(std::chrono::duration<double>(adapters.receiverHears->lastArrival() - start).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}

/// (c) Round trip: a 100-byte message to the other side, which sends it back through its adapter.
void adapterRoundTrip(benchmark::State& state) {
    ChunkAdapterPair adapters(true);
    const std::vector<std::uint8_t> message(100, 0x5a);
    std::uint64_t returned = 0;
    for (int warm = 0; warm < 100; ++warm) {
        adapters.sender->sendData(message, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("warm-up failed");
    }
    std::vector<double> microseconds;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        adapters.sender->sendData(message, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("message not returned");
        const double seconds = std::chrono::duration<double>(adapters.senderHears->lastArrival() - start).count();
        state.SetIterationTime(seconds);
        microseconds.push_back(seconds * 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    auto quantile = [&](double q) { return microseconds[static_cast<std::size_t>(q * (microseconds.size() - 1))]; };
    state.counters["p50_us"] = quantile(0.50);
    state.counters["p99_us"] = quantile(0.99);
}

BENCHMARK(rawChannel)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(adapterPair)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(30);
BENCHMARK(adapterPair)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(adapterRoundTrip)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);

/// The console output, plus each run's bytes per second for the ratios.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            auto found = run.counters.find("bytes_per_second");
            if (!run.error_occurred && found != run.counters.end()) rates[run.benchmark_name()] = found->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    /// The rate of the first run whose name starts with `prefix`, or 0.
    double rate(const std::string& prefix) const {
        for (const auto& [name, value] : rates) {
            if (name.rfind(prefix, 0) == 0) return value;
        }
        return 0;
    }

private:
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double raw = reporter.rate("rawChannel");
    for (const auto* size : {"1048576", "67108864"}) {
        const double adapter = reporter.rate(std::string("adapterPair/") + size);
        if (raw > 0 && adapter > 0) {
            std::printf("adapter pair, %s-byte messages: %.1f MB/s; bare channel %.1f MB/s; ratio %.3f\n", size,
                        adapter / 1e6, raw / 1e6, adapter / raw);
        }
    }
    benchmark::Shutdown();
    return 0;
}
