// Throughput of the bare WebRTC data channel on loopback: the baseline that the message layer's
// own figures are set against.

#include <benchmark/benchmark.h>

#include <vector>

#include "support/ChannelEndpoint.hpp"
#include "support/LoopbackPeerPair.hpp"

namespace {

using quorvane::testing::ChannelEndpoint;
using quorvane::testing::LoopbackPeerPair;
using namespace std::chrono_literals;

/// Message bytes of a full chunk.
constexpr std::size_t kChunkBytes = 15360;
/// What a frame adds around a full chunk (tables, offsets, vector length), rounded up.
constexpr std::size_t kFramingBytes = 80;

/// Raw channel: full-chunk frames one way, written behind the message layer's buffered-amount
/// gate (closes at >= 10485760 bytes buffered, opens again at <= 16384). Time runs from the first
/// write to the last arrival; frames the channel gave up are not counted as carried.
void rawChannel(benchmark::State& state) {
    LoopbackPeerPair pair;
    auto sender = ChannelEndpoint::attach(pair.offerChannel(), false, {10485760, 16384});
    auto receiver = ChannelEndpoint::attach(pair.answerChannel(), false);
    const std::vector<std::uint8_t> frame(kChunkBytes + kFramingBytes, 0x5a);
    const auto frames = static_cast<std::size_t>(state.range(0)) / kChunkBytes;

    std::uint64_t carried = 0;
    std::uint64_t sent = 0;
    for (auto _ : state) {
        auto countBefore = receiver->messageCount();
        auto bytesBefore = receiver->receivedBytes();
        auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < frames; ++i) sender->send(frame);
        receiver->waitForMessagesOrQuiet(countBefore + frames, 2s);
        state.SetIterationTime(std::chrono::duration<double>(receiver->lastArrival() - start).count());
        carried += receiver->receivedBytes() - bytesBefore;
        sent += frames * frame.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(carried));
    state.counters["MiB/s"] = benchmark::Counter(static_cast<double>(carried) / (1 << 20),
                                                 benchmark::Counter::kIsRate);
    state.counters["carried"] = static_cast<double>(carried) / static_cast<double>(sent);
}

BENCHMARK(rawChannel)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
