// Feeds arbitrary bytes to a session client as messages that arrived from the peer, through its
// whole receive road: reading, reports to the host, command acknowledgements and query answers.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "client/QuorvaneClientDependencies.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "formats/DataChannelMessageWriter.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/Reachability.hpp"
#include "support/FakeReachabilitySource.hpp"

namespace {

using namespace quorvane;

constexpr const char* markerTag = "fuzz.marker";

class SilentLogger : public Logger {
public:
    void trace(const std::string&, const DataList&) override {}
    void debug(const std::string&, const DataList&) override {}
    void error(const std::string&, const DataList&) override {}
    void info(const std::string&, const DataList&) override {}
    void warn(const std::string&, const DataList&) override {}
};

/// Answers whatever arrives and counts the markers that follow each input.
class AnsweringHost : public QuorvaneDelegate {
public:
    void quorvaneDidReceiveNotification(const QVNotification& notification) override {
        if (notification.data().tag() != markerTag) return;
        std::lock_guard lock(mutex_);
        ++markers_;
        changed_.notify_all();
    }
    void quorvaneDidReceiveCommand(const QVCommand&, const QVCommandContext& context) override { context.complete(); }
    void quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) override {
        context.respond(query.data(), true);
    }

    void waitForMarkers(std::uint64_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return markers_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t markers_ = 0;
};

struct Harness {
    Harness() {
        QuorvaneClientDependencies dependencies;
        dependencies.makeTransport = [](const TransportLayerConfiguration&) { return nullptr; };
        dependencies.networkStatus = NetworkStatus::create(Reachability::create(
            std::make_shared<testing::FakeReachabilitySource>(testing::FakeReachabilitySource::online),
            DispatchQueue::main()));
        client = makeQuorvaneClient("http://127.0.0.1:9", "key", false, 30, std::make_shared<SilentLogger>(), host,
                                    nullptr, std::move(dependencies));
        receiver = std::dynamic_pointer_cast<TransportLayerDelegate>(client);
    }

    std::shared_ptr<AnsweringHost> host = std::make_shared<AnsweringHost>();
    std::shared_ptr<QuorvaneClient> client;
    std::shared_ptr<TransportLayerDelegate> receiver;
    const std::vector<std::uint8_t> marker = DataChannelMessageWriter::notification("markerid00", 0, 0, markerTag, {});
    std::uint64_t inputs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    harness.receiver->transportLayerDidReceive(std::vector<std::uint8_t>(data, data + size), 1);
    harness.receiver->transportLayerDidReceive(harness.marker, 2);
    harness.host->waitForMarkers(++harness.inputs);
    return 0;
}
