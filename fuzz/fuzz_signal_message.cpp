// Feeds arbitrary bytes to a connected SignalClient as messages from the broker: on its own inbox
// (a signal) or on the announce topic (an announcement, or a signal when not text). The client
// must verify every buffer before reading it and hand the delegate only complete signals.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "signaling/SignalClient.hpp"
#include "support/FakeMqttTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Queues.hpp"

namespace {

using namespace quorvane;

/// Reads every field of what it is handed, so that the sanitizers see each byte touched.
class ReadingDelegate : public SignalClientDelegate {
public:
    void signalClientDidReceiveOffer(const std::string& sdp) override { add(sdp.size()); }
    void signalClientDidReceiveAnswer(const std::string& sdp) override { add(sdp.size()); }
    void signalClientDidReceiveCandidate(const SignalIceCandidate& candidate) override {
        add(candidate.candidate.size() + static_cast<std::size_t>(candidate.sdpMLineIndex) +
            candidate.sdpMid.value_or("").size());
    }
    void signalClientDidReceiveDisconnect() override { add(1); }
    void signalClientPeerDidRejoin() override { add(1); }

private:
    // A plain store: compound assignment to a volatile is deprecated.
    void add(std::size_t count) { sink_ = sink_ + count; }

    volatile std::size_t sink_ = 0;
};

/// A client connected over the scripted transport; made afresh now and then so that what the
/// script records does not pile up.
struct Session {
    Session() {
        auto network = std::make_shared<testing::FakeReachabilitySource>(testing::FakeReachabilitySource::online);
        auto services = std::make_shared<QuorvaneServices>(
            "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
        client = SignalClient::create(services, {"127.0.0.1", {.ssl = 8883}}, "user", "token", "A", "fuzz",
                                      "fuzz/answer", "fuzz/offer", 10, nullptr, mqtt->factory());
        client->setDelegate(delegate);
        client->connect().wait();
    }

    std::shared_ptr<testing::FakeMqttTransport> mqtt = std::make_shared<testing::FakeMqttTransport>();
    std::shared_ptr<ReadingDelegate> delegate = std::make_shared<ReadingDelegate>();
    std::shared_ptr<SignalClient> client;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<Session> session;
    static int uses = 0;
    if (!session || ++uses % 1000 == 0) session = std::make_unique<Session>();
    if (size == 0) return 0;
    const char* topic = data[0] % 2 == 0 ? "fuzz/offer" : "fuzz/announce";
    session->mqtt->deliver(topic, std::vector<std::uint8_t>(data + 1, data + size));
    // The message and what it sets off (announcement processing, a reply) run out.
    for (int i = 0; i < 4; ++i) quorvane::testing::drain(session->client->dispatchQueue());
    return 0;
}
