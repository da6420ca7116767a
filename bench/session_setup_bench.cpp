// Session set-up on loopback, in one run, 20 set-ups each:
//  (a) the baseline: a bare pair of peer connections negotiated directly in the process (offer,
//      answer and candidates handed over by hand), until both data channels are open;
//  (b) two WebRtcClients, the offer and the answer side of one session, meeting through a
//      mosquitto broker over TLS on 127.0.0.1: from both connect calls until both report the
//      connection established.
// Prints p50 and max of each and (b) over (a).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "connection/WebRtcClient.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "signaling/MosquittoTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/Quantile.hpp"

namespace {

using namespace quorvane;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int setUps = 20;

/// Milliseconds of each set-up, by benchmark.
std::map<std::string, std::vector<double>> durations;

double seconds(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

/// Waits until the transport reports the connection established.
class EstablishedDelegate : public TransportLayerDelegate {
public:
    bool waitForConnection(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return established_; });
    }

    void transportLayerEstablishedConnection() override {
        std::lock_guard lock(mutex_);
        established_ = true;
        changed_.notify_all();
    }
    void transportLayerDidReceive(std::vector<std::uint8_t>, std::uint16_t) override {}
    void transportLayerWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void transportLayerFailedToSend(const std::vector<std::uint8_t>&, std::uint16_t) override {}
    void transportLayerFailedToReceiveMessage(std::uint16_t, std::uint16_t) override {}
    void transportLayerDidDisconnect(bool) override {}
    void transportLayerWillResetConnection() override {}
    void transportLayerAddedMediaStream(std::shared_ptr<CameraStreamController>) override {}
    void transportLayerAddedScreenCapture(std::shared_ptr<ScreenCaptureController>) override {}
    void transportLayerFailedToAddMediaStream(std::exception_ptr) override {}
    void transportLayerFailedToAddScreenCapture(std::exception_ptr) override {}

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool established_ = false;
};

/// (a) A bare peer-connection pair: negotiation and channel opening without signaling.
void barePeerConnectionPair(benchmark::State& state) {
    rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true);
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        quorvane::testing::LoopbackPeerPair pair;
        const double elapsed = seconds(start);
        state.SetIterationTime(elapsed);
        durations["bare"].push_back(elapsed * 1e3);
    }
}

/// (b) Two WebRtcClients through the broker, a new session topic each time.
void sessionSetUp(benchmark::State& state) {
    rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true);
    quorvane::testing::MosquittoBroker broker;
    auto network =
        std::make_shared<quorvane::testing::FakeReachabilitySource>(quorvane::testing::FakeReachabilitySource::online);
    auto services = std::make_shared<QuorvaneServices>(
        "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
    auto logger = std::make_shared<ZephLogger>(nullptr, LogLevel::ERROR, false);
    int session = 0;
    auto makeClient = [&](WebRtcClientRole role, const std::shared_ptr<EstablishedDelegate>& delegate) {
        TransportLayerConfiguration configuration;
        configuration.delegate = delegate;
        configuration.services = services;
        configuration.role = role;
        configuration.username = broker.username();
        configuration.session.topic = "bench/" + std::to_string(session);
        configuration.session.token = broker.password();
        configuration.session.offerClient = "offer-client";
        configuration.session.answerClient = "answer-client";
        configuration.timeout = 30;
        configuration.connectionInformation.mqtt = {broker.host(), {.ssl = broker.port()}};
        configuration.logger = logger;
        return WebRtcClient::create(configuration, MosquittoTransport::factory(broker.caFile()));
    };
    for (auto _ : state) {
        ++session;
        auto offerHears = std::make_shared<EstablishedDelegate>();
        auto answerHears = std::make_shared<EstablishedDelegate>();
        auto offer = makeClient(WebRtcClientRole::offer, offerHears);
        auto answer = makeClient(WebRtcClientRole::answer, answerHears);
        const auto start = SteadyClock::now();
        offer->connectAsOffer();
        answer->connectAsAnswer();
        if (!offerHears->waitForConnection(60s) || !answerHears->waitForConnection(60s)) {
            return state.SkipWithError("the session did not connect");
        }
        const double elapsed = seconds(start);
        state.SetIterationTime(elapsed);
        durations["session"].push_back(elapsed * 1e3);
        offer->resetState(false).wait();
        answer->resetState(false).wait();
    }
}

BENCHMARK(barePeerConnectionPair)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(setUps);
BENCHMARK(sessionSetUp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(setUps);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    const auto& bare = durations["bare"];
    const auto& session = durations["session"];
    if (!bare.empty() && !session.empty()) {
        const double bareP50 = quorvane::testing::quantile(bare, 0.5);
        const double sessionP50 = quorvane::testing::quantile(session, 0.5);
        std::printf("session set-up over %zu runs: p50 %.1f ms, max %.1f ms; bare peer-connection pair over %zu runs: "
                    "p50 %.1f ms, max %.1f ms; ratio of the p50s %.2f\n",
                    session.size(), sessionP50, quorvane::testing::quantile(session, 1), bare.size(), bareP50, quorvane::testing::quantile(bare, 1),
                    sessionP50 / bareP50);
    }
    benchmark::Shutdown();
    return 0;
}
