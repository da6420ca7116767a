// The round trip of a 100-byte query answered in one 100-byte part, in one run:
//  (a) the baseline: two chunk adapters on a loopback peer-connection pair, a 100-byte message
//      there and the same message back;
//  (b) two session clients in one session over their real transports (signaling through a TLS
//      mosquitto broker on 127.0.0.1, the session made through the mock REST service, WebRTC on
//      loopback): from sendQuery until its receipt is fulfilled, the answering host replying from
//      its delegate call.
// Prints p50 and p99 of each, (b) over (a) and (b) minus (a).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "MockRestService.hpp"
#include "support/BrokerService.hpp"
#include "support/ChunkAdapterPair.hpp"
#include "support/LoopbackClientPair.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/Quantile.hpp"

namespace {

using namespace quorvane;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int roundTrips = 2000;
constexpr int warmUps = 100;
const std::vector<std::uint8_t> payload(100, 0x5a);

/// Microseconds of each round trip, by benchmark.
std::map<std::string, std::vector<double>> durations;

/// (a) Two chunk adapters, the receiver echoing each message.
void adapterRoundTrip(benchmark::State& state) {
    quorvane::testing::ChunkAdapterPair adapters(true);
    std::uint64_t returned = 0;
    for (int warm = 0; warm < warmUps; ++warm) {
        adapters.sender->sendData(payload, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("warm-up failed");
    }
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        adapters.sender->sendData(payload, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("message not returned");
        const double seconds = std::chrono::duration<double>(adapters.senderHears->lastArrival() - start).count();
        state.SetIterationTime(seconds);
        durations["adapter"].push_back(seconds * 1e6);
    }
}

/// Answers every query at once with one last part of 100 bytes.
class Responder : public QuorvaneDelegate {
public:
    void quorvaneDidReceiveQuery(const QVQuery&, const QVQueryContext& context) override {
        context.respond(QVTaggedData("application/octet-stream", payload), true);
    }
};

/// (b) Two session clients; the offer side asks, the answer side's host replies.
void clientQueryRoundTrip(benchmark::State& state) {
    const std::string apiKey = "mock-api-key";
    quorvane::testing::MosquittoBroker broker(apiKey, "session-token");
    mock::MockRestService service(quorvane::testing::serviceOptionsFor(broker));
    auto asking = std::make_shared<QuorvaneDelegate>();
    auto responder = std::make_shared<Responder>();
    quorvane::testing::LoopbackClientPair clients(service.start(), apiKey, broker, asking, responder, nullptr, false);
    try {
        clients.connect();
    } catch (const std::exception& error) {
        return state.SkipWithError(error.what());
    }
    auto ask = [&] {
        const QVQuery query(1, QVTaggedData("application/octet-stream", payload));
        clients.offer()->sendQuery(query, 30, {}).complete().wait();
    };
    try {
        for (int warm = 0; warm < warmUps; ++warm) ask();
        for (auto _ : state) {
            const auto start = SteadyClock::now();
            ask();
            const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
            state.SetIterationTime(seconds);
            durations["client"].push_back(seconds * 1e6);
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    clients.offer()->disconnect(true).wait();
    service.stop();
}

BENCHMARK(adapterRoundTrip)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(roundTrips);
BENCHMARK(clientQueryRoundTrip)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(roundTrips);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    const auto& adapter = durations["adapter"];
    const auto& client = durations["client"];
    if (!adapter.empty() && !client.empty()) {
        for (const double q : {0.50, 0.99}) {
            const double a = quorvane::testing::quantile(adapter, q);
            const double c = quorvane::testing::quantile(client, q);
            std::printf("p%.0f: query through two clients %.0f us; adapter pair %.0f us; ratio %.2f; the clients add "
                        "%.0f us\n",
                        q * 100, c, a, c / a, c - a);
        }
    }
    benchmark::Shutdown();
    return 0;
}
