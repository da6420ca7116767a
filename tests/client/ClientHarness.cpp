#include "ClientHarness.hpp"

#include <algorithm>

#include "quorvane/Reachability.hpp"
#include "support/Settle.hpp"

namespace quorvane::testing {

// --- RecordingDelegate ---------------------------------------------------------------------------

void RecordingDelegate::record(const std::string& method, std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    lastOnMain_ = DispatchQueue::main()->isCurrent();
    changed_.notify_all();
    if (method == throwFrom_) throw std::runtime_error("host failure");
}

void RecordingDelegate::throwFrom(std::string method) {
    std::lock_guard lock(mutex_);
    throwFrom_ = std::move(method);
}

std::vector<std::string> RecordingDelegate::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::size_t RecordingDelegate::count(const std::string& event) const {
    std::lock_guard lock(mutex_);
    return std::count(events_.begin(), events_.end(), event);
}

bool RecordingDelegate::waitFor(const std::string& event, std::size_t times) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
        return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event)) >= times;
    });
}

std::vector<QVNotification> RecordingDelegate::notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

bool RecordingDelegate::lastRanOnMain() const {
    std::lock_guard lock(mutex_);
    return lastOnMain_;
}

void RecordingDelegate::quorvaneDidReceiveNotification(const QVNotification& notification) {
    {
        std::lock_guard lock(mutex_);
        notifications_.push_back(notification);
    }
    record("quorvaneDidReceiveNotification", "notification");
}

void RecordingDelegate::quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) {
    if (onCommand) onCommand(command, context);
    record("quorvaneDidReceiveCommand", "command");
}

void RecordingDelegate::quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) {
    if (onQuery) onQuery(query, context);
    record("quorvaneDidReceiveQuery", "query");
}

void RecordingDelegate::quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                   std::uint16_t numChunksReceived, std::uint16_t totalChunks) {
    record("quorvaneWillReceiveMessage", "progress(" + std::to_string(id) + "," + std::to_string(category) + "," +
                                             std::to_string(numChunksReceived) + "," + std::to_string(totalChunks) + ")");
}

void RecordingDelegate::quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    record("quorvaneFailedToReceiveMessage", "failedToReceive(" + std::to_string(id) + "," + std::to_string(category) + ")");
}

void RecordingDelegate::quorvaneDidConnect() { record("quorvaneDidConnect", "connect"); }

void RecordingDelegate::quorvaneDidDisconnect(bool expected) {
    record("quorvaneDidDisconnect", expected ? "disconnect(true)" : "disconnect(false)");
}

void RecordingDelegate::quorvaneWillResetConnection() { record("quorvaneWillResetConnection", "reset"); }

void RecordingDelegate::quorvaneDidReceiveMessage(const std::vector<std::uint8_t>&, const std::string& type) {
    record("quorvaneDidReceiveMessage", "raw(" + type + ")");
}

void RecordingDelegate::quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController>) {
    record("quorvaneStartedVideoCapture", "videoStarted");
}

void RecordingDelegate::quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController>) {
    record("quorvaneStartedScreenCapture", "screenStarted");
}

void RecordingDelegate::quorvaneFailedToStartVideoCapture(std::exception_ptr) {
    record("quorvaneFailedToStartVideoCapture", "videoFailed");
}

void RecordingDelegate::quorvaneFailedToStartScreenCapture(std::exception_ptr) {
    record("quorvaneFailedToStartScreenCapture", "screenFailed");
}

// --- ClientTest ----------------------------------------------------------------------------------

ClientTest::ClientTest()
    : base_(service_.start()),
      gate_(NetworkStatus::create(Reachability::create(network_, DispatchQueue::main()))) {}

ClientTest::~ClientTest() { service_.stop(); }

std::shared_ptr<QuorvaneClient> ClientTest::makeClient(FakeTransportFactory& transports,
                                                       const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                       const DispatchQueuePtr& queue,
                                                       std::function<std::string()> makeMessageId) {
    QuorvaneClientDependencies dependencies;
    dependencies.makeTransport = transports.factory();
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
    for (int round = 0; round < 2000; ++round) {
        if (condition()) return true;
        settle();
    }
    return condition();
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
