// The memory of the process across 100,000 commands sent without a time-out, each answered at
// once: two session clients over a pair of in-memory transports that keep nothing (the session
// made through the mock REST service), on the real clock. Prints the resident memory after a warm-up and after
// every further 20,000 commands, and its growth over them; nothing of an answered command should
// stay behind.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "MockRestService.hpp"
#include "client/QuorvaneClientDependencies.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/Reachability.hpp"
#include "connection/TransportLayer.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/ResidentMemory.hpp"

namespace {

using namespace quorvane;
using quorvane::testing::FakeReachabilitySource;
using quorvane::testing::ResidentMemory;

constexpr int warmUp = 10'000;
constexpr int step = 20'000;
constexpr int steps = 5;
constexpr int batch = 1'000;  // commands in flight at once

double megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

/// One end of a pair: what it is given to send, the other end's client receives at once, on that
/// end's queue. It records nothing, so that the memory measured is the clients' own.
class LoopbackTransport final : public TransportLayer {
public:
    static void link(const std::shared_ptr<LoopbackTransport>& one, const std::shared_ptr<LoopbackTransport>& other) {
        one->peer_ = other;
        other->peer_ = one;
    }
    void setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) override {
        queue_->sync([&] { delegate_ = std::move(delegate); });
    }
    Promise<void> connectAsOffer() override { return Promise<void>::value(); }
    Promise<void> connectAsAnswer() override { return Promise<void>::value(); }
    Promise<void> resetState(bool) override { return Promise<void>::value(); }
    Promise<void> sendMessage(std::vector<std::uint8_t> data, std::uint16_t, std::shared_ptr<SessionMetrics>) override {
        if (auto peer = peer_.lock()) peer->receive(std::move(data));
        return Promise<void>::value();
    }
    bool isConnected() const override { return true; }
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>>) override { return false; }
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>) override { return false; }

private:
    void receive(std::vector<std::uint8_t> data) {
        queue_->async([this, data = std::move(data)]() mutable {
            if (auto delegate = delegate_.lock()) delegate->transportLayerDidReceive(std::move(data), nextId_++);
        });
    }

    const DispatchQueuePtr queue_ = DispatchQueue::create("loopback");
    std::weak_ptr<LoopbackTransport> peer_;
    std::weak_ptr<TransportLayerDelegate> delegate_;  // touched on queue_ only
    std::uint16_t nextId_ = 0;                        // touched on queue_ only
};

void untimedCommands(benchmark::State& state) {
    mock::MockRestService service;
    const auto base = service.start();
    auto network = std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    auto gate = NetworkStatus::create(Reachability::create(network, DispatchQueue::main()));
    auto offerEnd = std::make_shared<LoopbackTransport>(), answerEnd = std::make_shared<LoopbackTransport>();
    LoopbackTransport::link(offerEnd, answerEnd);
    auto makeClient = [&](const std::shared_ptr<LoopbackTransport>& end, const std::shared_ptr<QuorvaneDelegate>& host) {
        QuorvaneClientDependencies dependencies;
        dependencies.makeTransport = [end](const TransportLayerConfiguration& configuration) {
            end->setDelegate(configuration.delegate);
            return end;
        };
        dependencies.networkStatus = gate;
        auto client = makeQuorvaneClient(base, "mock-api-key", false, 30, nullptr, host, nullptr, std::move(dependencies));
        client->setLogger(nullptr);
        return client;
    };
    auto offerHost = std::make_shared<QuorvaneDelegate>(), answerHost = std::make_shared<QuorvaneDelegate>();
    auto offer = makeClient(offerEnd, offerHost);
    auto answer = makeClient(answerEnd, answerHost);
    answer->connectToSupportSession(offer->initiateSupportSession().wait()).wait();

    auto send = [&](int count) {
        for (int sent = 0; sent < count; sent += batch) {
            std::vector<Promise<void>> answered;
            for (int command = 0; command < batch; ++command) {
                answered.push_back(offer->sendCommand(QVCommand(5, QVTaggedData("text/plain", {'g', 'o'}),
                                                                QVAcknowledgeOn::received),
                                                      INFINITY));
            }
            for (const auto& promise : answered) promise.wait();
        }
    };
    for (auto _ : state) {
        send(warmUp);
        const auto start = ResidentMemory::read().now;
        std::printf("after %d commands: %.1f MB\n", warmUp, megabytes(start));
        for (int done = 1; done <= steps; ++done) {
            send(step);
            std::printf("after %d commands: %.1f MB\n", warmUp + done * step, megabytes(ResidentMemory::read().now));
        }
        const auto growth = static_cast<double>(ResidentMemory::read().now) - static_cast<double>(start);
        std::printf("growth over %d untimed commands: %.1f MB\n", steps * step, growth / (1024.0 * 1024.0));
        state.counters["growth_MB"] = growth / (1024.0 * 1024.0);
    }
    offer->disconnect(false).wait();
    service.stop();
}

BENCHMARK(untimedCommands)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
