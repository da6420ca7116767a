#include "ClientHarness.hpp"

#include <algorithm>
#include <chrono>

#include "quorvane/Reachability.hpp"
#include "support/Settle.hpp"

namespace quorvane::testing {

// --- ClientTest ----------------------------------------------------------------------------------

ClientTest::ClientTest()
    : base_(service_.start()),
      gate_(NetworkStatus::create(Reachability::create(network_, DispatchQueue::main()))) {}

ClientTest::~ClientTest() { service_.stop(); }

std::shared_ptr<QuorvaneClient> ClientTest::makeClient(FakeTransportFactory& transports,
                                                       const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                       const DispatchQueuePtr& queue,
                                                       std::function<std::string()> makeMessageId) {
    return makeClient(transports.factory(), delegate, queue, std::move(makeMessageId));
}

std::shared_ptr<QuorvaneClient> ClientTest::makeClient(TransportLayerFactory makeTransport,
                                                       const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                       const DispatchQueuePtr& queue,
                                                       std::function<std::string()> makeMessageId) {
    QuorvaneClientDependencies dependencies;
    dependencies.makeTransport = std::move(makeTransport);
    dependencies.makeMessageId = std::move(makeMessageId);
    dependencies.networkStatus = gate_;
    return makeQuorvaneClient(base_, apiKey, true, 30, console_, delegate, queue, std::move(dependencies));
}

std::vector<std::string> ClientTest::logLines() const {
    std::vector<std::string> lines;
    for (const auto& call : console_->calls()) lines.push_back(call.level + " " + call.message);
    return lines;
}

bool ClientTest::logged(const std::string& line) const {
    auto lines = logLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ClientTest::settle(const std::vector<std::shared_ptr<FakeTransport>>& ends) const {
    std::vector<DispatchQueuePtr> queues;
    for (const auto& end : ends) queues.push_back(end->queue());
    testing::settle(queues, [this] { return console_->calls().size(); });
}

bool ClientTest::eventually(const std::function<bool()>& condition) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        settle();
    }
    return true;
}

// --- ConnectedClientsTest ------------------------------------------------------------------------

void ConnectedClientsTest::SetUp() {
    std::tie(offerEnd_, answerEnd_) = FakeTransport::pair();
    offerTransports_.add(offerEnd_);
    answerTransports_.add(answerEnd_);
    offer_ = makeClient(offerTransports_, offerHost_, nullptr, offerMessageIds_);
    answer_ = makeClient(answerTransports_, answerHost_);
    const auto pin = offer_->initiateSupportSession().wait();
    answer_->connectToSupportSession(pin).wait();
    offerEnd_->connect();
    ASSERT_TRUE(offerHost_->waitFor("connect"));
    ASSERT_TRUE(answerHost_->waitFor("connect"));
}

}  // namespace quorvane::testing
