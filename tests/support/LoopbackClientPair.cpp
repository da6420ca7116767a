#include "support/LoopbackClientPair.hpp"

#include <stdexcept>
#include <thread>

#include "client/QuorvaneClientDependencies.hpp"
#include "connection/WebRtcClient.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/Reachability.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "signaling/MosquittoTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/MosquittoBroker.hpp"

namespace quorvane::testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

/// Waits in real time until `done` holds; false once `deadline` has passed.
template <class Done>
bool waitUntil(SteadyClock::time_point deadline, Done done) {
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

TransportLayerFactory webRtcTransports(std::string caFile) {
    auto signaling = MosquittoTransport::factory(std::move(caFile));
    return [signaling](const TransportLayerConfiguration& configuration) {
        return WebRtcClient::create(configuration, signaling);
    };
}

std::shared_ptr<QuorvaneClient> makeLoopbackClient(const std::string& apiUrlBase, const std::string& apiKey,
                                                   const std::string& caFile,
                                                   const std::shared_ptr<QuorvaneDelegate>& host,
                                                   std::shared_ptr<Logger> console, bool retainLogs) {
    rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true);
    auto online = std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    QuorvaneClientDependencies dependencies;
    dependencies.makeTransport = webRtcTransports(caFile);
    dependencies.networkStatus = NetworkStatus::create(Reachability::create(online, DispatchQueue::main()));
    auto client = makeQuorvaneClient(apiUrlBase, apiKey, retainLogs, 10, console, host, nullptr, std::move(dependencies));
    client->setLogger(console);  // at creation null stands for standard output; here for printing off
    return client;
}

LoopbackClientPair::LoopbackClientPair(const std::string& apiUrlBase, const std::string& apiKey,
                                       const MosquittoBroker& broker,
                                       const std::shared_ptr<QuorvaneDelegate>& offerHost,
                                       const std::shared_ptr<QuorvaneDelegate>& answerHost,
                                       std::shared_ptr<Logger> console, bool retainLogs)
    : offer_(makeLoopbackClient(apiUrlBase, apiKey, broker.caFile(), offerHost, console, retainLogs)),
      answer_(makeLoopbackClient(apiUrlBase, apiKey, broker.caFile(), answerHost, console, retainLogs)) {}

std::string LoopbackClientPair::connect(std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    const auto pin = settled(offer_->initiateSupportSession(), deadline, "initiateSupportSession");
    settled(answer_->connectToSupportSession(pin), deadline, "connectToSupportSession");
    if (!waitUntil(deadline, [&] { return offer_->isConnected() && answer_->isConnected(); })) {
        throw std::runtime_error("the data channel did not open in time");
    }
    return pin;
}

}  // namespace quorvane::testing
