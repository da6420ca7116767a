// Start-up and shut-down of sessions and the transport's reports to the host.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <latch>
#include <limits>
#include <stdexcept>
#include <thread>

#include "ClientHarness.hpp"
#include "formats/DataChannelMessageView.hpp"
#include "formats/DataChannelMessageWriter.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "rest/QuorvaneServices.hpp"

using namespace quorvane;
using namespace quorvane::testing;
using ::testing::ElementsAre;
using ::testing::IsSupersetOf;

namespace {

class SessionTest : public ClientTest {
protected:
    /// "METHOD target" of every request, each checked for the API key.
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        for (const auto& request : service_.requests()) {
            EXPECT_EQ(request.apiKey, apiKey) << request.target;
            lines.push_back(request.method + " " + request.target);
        }
        return lines;
    }

    /// A session created directly through the service.
    QuorvaneSession createSession() const {
        return std::make_shared<QuorvaneServices>(base_, apiKey, gate_)->createSupportSession().wait();
    }

    std::shared_ptr<RecordingDelegate> host_ = std::make_shared<RecordingDelegate>();
    FakeTransportFactory transports_;
};

class ConnectedSessionTest : public ConnectedClientsTest {
protected:
    /// The log bodies uploaded for the session of `end`, once one has arrived.
    std::vector<nlohmann::json> uploads(const FakeTransport& end, const std::string& role) {
        const auto sessionId = end.record().configuration->session.sessionId;
        eventually([&] { return !service_.postedLogs(sessionId, role).empty(); });
        return service_.postedLogs(sessionId, role);
    }
};

std::shared_ptr<VideoStreamConfiguration<CameraFormat>> camera() {
    return std::make_shared<VideoStreamConfiguration<CameraFormat>>(CameraFormat(), nullptr);
}

std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> screen() {
    return std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat(), nullptr);
}

std::vector<std::uint8_t> notificationBytes() {
    return DataChannelMessageWriter::notification("abcdefghij", 0, 1, "text/plain", {});
}

/// A part of the answer to the query `end` sent as its message number `sent`.
std::vector<std::uint8_t> answerPart(const FakeTransport& end, std::size_t sent, bool isLast) {
    const auto query = *parseDataChannelMessage(end.record().sent.at(sent).data)->id();
    return DataChannelMessageWriter::queryResponse("klmnopqrst", 0, query, "text/plain", {}, isLast);
}

/// A transport that runs `onReset` before its fake end resets.
class ResetWatchingTransport final : public TransportLayer {
public:
    ResetWatchingTransport(std::shared_ptr<TransportLayer> end, std::function<void()> onReset)
        : end_(std::move(end)), onReset_(std::move(onReset)) {}
    void setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) override { end_->setDelegate(std::move(delegate)); }
    Promise<void> connectAsOffer() override { return end_->connectAsOffer(); }
    Promise<void> connectAsAnswer() override { return end_->connectAsAnswer(); }
    Promise<void> resetState(bool sendDisconnect) override {
        onReset_();
        return end_->resetState(sendDisconnect);
    }
    Promise<void> sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                              std::shared_ptr<SessionMetrics> metrics) override {
        return end_->sendMessage(std::move(data), category, std::move(metrics));
    }
    bool isConnected() const override { return end_->isConnected(); }
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) override {
        return end_->addVideoStream(std::move(configuration));
    }
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) override {
        return end_->addScreenSharing(std::move(configuration));
    }

private:
    const std::shared_ptr<TransportLayer> end_;
    const std::function<void()> onReset_;
};

}  // namespace

TEST_F(SessionTest, OfferSideCreatesTheSessionHandsOverStreamsAndReturnsThePinBeforeConnecting) {
    auto [end, peer] = FakeTransport::pair();
    auto connecting = Promise<void>::pending();
    end->setConnectResult(connecting.promise);
    transports_.add(end);
    auto client = makeClient(transports_, host_);
    auto camera1 = camera(), camera2 = camera();
    auto shared = screen();
    EXPECT_TRUE(client->addVideoStream(camera1));
    EXPECT_TRUE(client->addScreenSharing(shared));
    EXPECT_TRUE(client->addVideoStream(camera2));
    EXPECT_FALSE(client->addScreenSharing(screen()));

    const auto pin = client->initiateSupportSession().wait();

    EXPECT_TRUE(connecting.promise.isPending());
    EXPECT_THAT(requests(), ElementsAre("POST /sessions", "GET /connection"));
    const auto configuration = *end->record().configuration;
    EXPECT_EQ(configuration.role, WebRtcClientRole::offer);
    EXPECT_EQ(configuration.username, apiKey);
    EXPECT_EQ(configuration.session.pin, pin);
    EXPECT_EQ(configuration.timeout, 30);
    EXPECT_EQ(configuration.connectionInformation.mqtt.server, "127.0.0.1");
    EXPECT_THAT(end->record().calls, ElementsAre("addScreenSharing", "addVideoStream", "addVideoStream", "connectAsOffer"));
    EXPECT_THAT(end->record().streams, ElementsAre(shared.get(), camera1.get(), camera2.get()));
    EXPECT_FALSE(client->isConnected());
    end->connect();
    ASSERT_TRUE(host_->waitFor("connect"));
    EXPECT_TRUE(client->isConnected());
}

TEST_F(SessionTest, AnswerSideLooksThePinUpAndSettlesAsTheTransportConnects) {
    const auto session = createSession();
    auto [end, peer] = FakeTransport::pair();
    auto connecting = Promise<void>::pending();
    end->setConnectResult(connecting.promise);
    transports_.add(end);
    auto client = makeClient(transports_, host_);

    auto joined = client->connectToSupportSession(session.pin);
    ASSERT_TRUE(eventually([end = end] { return !end->record().calls.empty(); }));
    EXPECT_THAT(end->record().calls, ElementsAre("connectAsAnswer"));
    EXPECT_TRUE(joined.isPending());
    connecting.resolver.reject(std::runtime_error("signaling unreachable"));

    EXPECT_STREQ(rejection<std::runtime_error>(joined).what(), "signaling unreachable");
    EXPECT_THAT(requests(), ElementsAre("POST /sessions", "GET /sessions/" + session.pin, "GET /connection"));
    EXPECT_EQ(end->record().configuration->role, WebRtcClientRole::answer);
    EXPECT_EQ(end->record().configuration->session.sessionId, session.sessionId);
}

TEST_F(SessionTest, FailedStartUpsBuildNoTransport) {
    auto client = makeClient(transports_, host_);

    EXPECT_EQ(rejection<QuorvaneError>(client->connectToSupportSession("")).kind(), QuorvaneError::Kind::invalidUsage);
    EXPECT_TRUE(service_.requests().empty());
    EXPECT_NE(outcome(client->connectToSupportSession("000000")), nullptr);
    EXPECT_EQ(transports_.built(), 0u);

    auto failed = rejection<QuorvaneError>(client->initiateSupportSession());
    EXPECT_EQ(transports_.built(), 1u);
    EXPECT_EQ(failed.title(), "Missing Needed Data");
    EXPECT_STREQ(failed.what(), "Failed to initialize session with error: The data transfer client was not created");
    EXPECT_FALSE(client->isConnected());
    EXPECT_EQ(outcome(client->disconnect(true)), nullptr);
}

TEST_F(SessionTest, ATimeOutOutsideOneSecondToADayIsRefused) {
    for (const int timeout : {0, -1, 86401, std::numeric_limits<int>::min()}) {
        try {
            QuorvaneClient::create(base_, apiKey, false, timeout, console_, host_, nullptr);
            ADD_FAILURE() << timeout << " was accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), "The time-out must be from 1 to 86400 seconds; " + std::to_string(timeout) +
                                        " was given");
        }
    }
}

TEST_F(SessionTest, ADisconnectDuringStartUpStopsItAndALaterStartUpWorks) {
    auto [end, peer] = FakeTransport::pair();
    transports_.add(end);
    auto client = makeClient(transports_, host_);
    service_.injectFault(mock::Fault{.path = "/connection", .delaySeconds = 0.5, .count = 1});
    auto starting = client->initiateSupportSession();
    // The session is created; its connection information is slow to come.
    ASSERT_TRUE(eventually([this] { return service_.requests().size() == 1; }));

    EXPECT_EQ(outcome(client->disconnect(true)), nullptr);
    auto stopped = rejection<QuorvaneError>(starting);
    EXPECT_EQ(stopped.title(), "Disconnected");
    EXPECT_STREQ(stopped.what(),
                 "Failed to initialize session with error: The session was disconnected while it was starting");
    EXPECT_EQ(transports_.built(), 0u);

    client->initiateSupportSession().wait();
    EXPECT_THAT(end->record().calls, ElementsAre("connectAsOffer"));
}

TEST_F(SessionTest, ASecondStartUpSilencesAndResetsTheFirstTransport) {
    auto [first, firstPeer] = FakeTransport::pair();
    auto [second, secondPeer] = FakeTransport::pair();
    transports_.add(first);
    transports_.add(second);
    auto client = makeClient(transports_, host_);
    auto added = camera();
    client->addVideoStream(added);

    const auto firstPin = client->initiateSupportSession().wait();
    const auto secondPin = client->initiateSupportSession().wait();

    EXPECT_NE(firstPin, secondPin);
    EXPECT_THAT(first->record().calls, ElementsAre("addVideoStream", "connectAsOffer", "resetState(false)"));
    EXPECT_THAT(second->record().calls, ElementsAre("addVideoStream", "connectAsOffer"));
    EXPECT_THAT(second->record().streams, ElementsAre(added.get()));
    first->connect();
    firstPeer->sendMessage(notificationBytes(), 1, nullptr);
    first->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(false); });
    settle({first, firstPeer});
    EXPECT_TRUE(host_->events().empty());
    second->connect();
    ASSERT_TRUE(host_->waitFor("connect"));
}

TEST_F(SessionTest, StreamsAddedWhileATransportExistsAreHandedToIt) {
    auto [end, peer] = FakeTransport::pair();
    transports_.add(end);
    auto client = makeClient(transports_, host_);
    client->initiateSupportSession().wait();
    auto added = camera();
    auto shared = screen();

    EXPECT_TRUE(client->addVideoStream(added));
    EXPECT_TRUE(client->addScreenSharing(shared));
    EXPECT_FALSE(client->addScreenSharing(shared));

    EXPECT_THAT(end->record().calls, ElementsAre("connectAsOffer", "addVideoStream", "addScreenSharing"));
    EXPECT_THAT(end->record().streams, ElementsAre(added.get(), shared.get()));
}

TEST_F(SessionTest, OfferConnectFailureIsAnUnexpectedDisconnectUnlessTheHostDisconnected) {
    for (const bool hostDisconnects : {false, true}) {
        SCOPED_TRACE(hostDisconnects);
        auto [end, peer] = FakeTransport::pair();
        auto connecting = Promise<void>::pending();
        end->setConnectResult(connecting.promise);
        FakeTransportFactory transports;
        transports.add(end);
        auto host = std::make_shared<RecordingDelegate>();
        auto client = makeClient(transports, host);
        client->initiateSupportSession().wait();
        if (hostDisconnects) client->disconnect(false).wait();

        connecting.resolver.reject(std::runtime_error("broker unreachable"));

        const auto sessionId = end->record().configuration->session.sessionId;
        if (!hostDisconnects) {
            ASSERT_TRUE(host->waitFor("disconnect(false)"));
            EXPECT_TRUE(logged("ERROR Failed to connect as offer: broker unreachable"));
            EXPECT_TRUE(eventually([&] { return service_.postedLogs(sessionId, "offer").size() == 1; }));
        } else {
            settle({end});
            EXPECT_TRUE(host->events().empty());
            EXPECT_TRUE(service_.postedLogs(sessionId, "offer").empty());
        }
    }
}

TEST_F(SessionTest, ReportsFallBackToTheMainQueueAndAreDroppedWithoutADelegate) {
    auto [end, peer] = FakeTransport::pair();
    transports_.add(end);
    auto hostQueue = DispatchQueue::create("host");
    auto client = makeClient(transports_, host_, hostQueue);
    client->initiateSupportSession().wait();
    auto raiseConnect = [end = end] {
        end->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerEstablishedConnection(); });
    };

    raiseConnect();
    ASSERT_TRUE(host_->waitFor("connect"));
    EXPECT_FALSE(host_->lastRanOnMain());
    hostQueue.reset();
    raiseConnect();
    ASSERT_TRUE(host_->waitFor("connect", 2));
    EXPECT_TRUE(host_->lastRanOnMain());
    std::weak_ptr<RecordingDelegate> gone = host_;
    host_.reset();
    raiseConnect();
    settle({end});
    EXPECT_EQ(client->delegate(), nullptr);
    EXPECT_TRUE(gone.expired());
}

TEST_F(SessionTest, NothingOfAReleasedClientReachesItsHostAndEveryWaitSettles) {
    auto [end, peer] = FakeTransport::pair();
    transports_.add(end);
    auto hostQueue = DispatchQueue::create("host");
    auto client = makeClient(transports_, host_, hostQueue);
    client->initiateSupportSession().wait();
    // The host is in the middle of a report and of a query's part handler when it lets go, and
    // another report waits behind them.
    std::latch rawEntered(1), partEntered(1);
    std::atomic<int> returned = 0;
    auto busy = [&](std::latch& entered) {
        entered.count_down();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ++returned;
    };
    std::atomic<bool> rawSeen = false;
    host_->onRaw = [&](const std::vector<std::uint8_t>&, const std::string&) {
        if (!rawSeen.exchange(true)) busy(rawEntered);
    };
    host_->throwFrom("quorvaneDidReceiveMessage");  // once the release has begun: not logged
    auto query = client->sendQuery(QVQuery(3, QVTaggedData("q", {})), 5,
                                   [&](const QVTaggedData&, bool) { busy(partEntered); });
    auto command = client->sendCommand(QVCommand(4, QVTaggedData("c", {}), QVAcknowledgeOn::received), 5);
    auto untimed = client->sendCommand(QVCommand(4, QVTaggedData("c", {}), QVAcknowledgeOn::received), INFINITY);
    end->inject(notificationBytes(), 1);
    rawEntered.wait();
    end->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerWillResetConnection(); });
    settle({end});
    ASSERT_TRUE(end->waitForSent(3));
    end->inject(answerPart(*end, 0, false), 2);
    partEntered.wait();

    client.reset();
    EXPECT_EQ(returned, 2);
    EXPECT_TRUE(logged("DEBUG QuorvaneClient deinitialized"));
    EXPECT_FALSE(logged("ERROR Host code threw: host failure"));
    const auto printed = console_->calls().size();
    const auto heard = host_->events();
    end->raise([](TransportLayerDelegate& delegate) {
        delegate.transportLayerFailedToReceiveMessage(7, 1);
        delegate.transportLayerDidDisconnect(false);
    });
    settle({end});
    hostQueue->sync([] {});
    EXPECT_EQ(console_->calls().size(), printed);
    EXPECT_EQ(host_->events(), heard);
    EXPECT_EQ(host_->count("reset"), 0u);
    EXPECT_EQ(rejection<QuorvaneError>(query.complete()).title(), "Deinitialized");
    EXPECT_EQ(rejection<QuorvaneError>(command).title(), "Deinitialized");
    EXPECT_EQ(rejection<QuorvaneError>(untimed).title(), "Deinitialized");
}

TEST_F(SessionTest, AHostThatLetsGoInAMessagesFirstReportHearsNothingMoreOfIt) {
    struct Case {
        const char* raw;
        const char* report;  // the typed report that follows the raw one
        std::vector<std::uint8_t> message;
    };
    const std::vector<Case> cases{
        {"raw(Notification)", "notification", notificationBytes()},
        {"raw(Command)", "command",
         DataChannelMessageWriter::command("abcdefghij", 0, 1, CommandAcknowledgementType::received, "text/plain", {})},
        {"raw(Query)", "query", DataChannelMessageWriter::query("abcdefghij", 0, 1, "text/plain", {})},
    };
    for (const auto& [raw, report, message] : cases) {
        SCOPED_TRACE(report);
        auto [end, peer] = FakeTransport::pair();
        FakeTransportFactory transports;
        transports.add(end);
        auto host = std::make_shared<RecordingDelegate>();
        auto hostQueue = DispatchQueue::create("host");
        auto client = makeClient(transports, host, hostQueue);
        client->initiateSupportSession().wait();
        host->onRaw = [&client](const std::vector<std::uint8_t>&, const std::string&) { client.reset(); };
        end->inject(message, 1);
        ASSERT_TRUE(host->waitFor(raw));
        hostQueue->sync([] {});
        EXPECT_EQ(host->count(report), 0u);
    }
}

TEST_F(SessionTest, AQuerysPartHandlerHearsNothingAfterTheRelease) {
    auto [end, peer] = FakeTransport::pair();
    transports_.add(end);
    auto client = makeClient(transports_, host_);
    client->initiateSupportSession().wait();
    // The handler lets go of the client once a further part has been handed over.
    std::vector<bool> parts;
    auto receipt = client->sendQuery(QVQuery(3, QVTaggedData("q", {})), 5, [&](const QVTaggedData&, bool isLast) {
        parts.push_back(isLast);
        end->inject(answerPart(*end, 0, true), 2);
        end->queue()->sync([] {});
        client.reset();
    });
    ASSERT_TRUE(end->waitForSent(1));
    end->inject(answerPart(*end, 0, false), 1);

    EXPECT_EQ(rejection<QuorvaneError>(receipt.complete()).title(), "Deinitialized");
    EXPECT_EQ(parts, std::vector<bool>{false});
}

TEST_F(SessionTest, ACommandSentToANewSessionAsItsTransportIsInstalledWaitsForThatSessionsEnd) {
    auto [first, firstPeer] = FakeTransport::pair();
    auto [second, secondPeer] = FakeTransport::pair();
    transports_.add(first);
    transports_.add(second);
    std::shared_ptr<QuorvaneClient> client;
    std::optional<Promise<void>> sent;
    // The first session's transport is reset once the second start-up has installed its own: a
    // command sent then goes to the new session.
    auto makeTransport = [ends = transports_.factory(), &client, &sent](const TransportLayerConfiguration& configuration) {
        return std::make_shared<ResetWatchingTransport>(ends(configuration), [&client, &sent] {
            if (!sent) sent = client->sendCommand(QVCommand(4, QVTaggedData("c", {}), QVAcknowledgeOn::received), INFINITY);
        });
    };
    client = makeClient(makeTransport, host_);
    client->initiateSupportSession().wait();
    client->initiateSupportSession().wait();
    ASSERT_TRUE(sent);
    EXPECT_EQ(outcome(client->sendBytes({}, "marker", 0)), nullptr);  // after the first session's end

    EXPECT_TRUE(sent->isPending());
    EXPECT_EQ(second->record().sent.size(), 2u);
    client->disconnect(false).wait();
    EXPECT_EQ(rejection<QVError>(*sent).message(), "The session ended before the peer answered");
}

TEST_F(ConnectedSessionTest, TheHostsDisconnectTellsThePeerWhoseSessionEndsWithAnUpload) {
    offer_->disconnect(true).wait();

    ASSERT_TRUE(answerHost_->waitFor("disconnect(true)"));
    auto uploaded = uploads(*answerEnd_, "answer");
    ASSERT_TRUE(eventually([this] { return answerEnd_->record().calls.size() == 2; }));
    EXPECT_THAT(offerEnd_->record().calls, ElementsAre("connectAsOffer", "resetState(true)"));
    EXPECT_THAT(answerEnd_->record().calls, ElementsAre("connectAsAnswer", "resetState(false)"));
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_FALSE(uploaded[0]["entries"].empty());
    EXPECT_EQ(uploaded[0]["metrics"].size(), 5u);
    EXPECT_EQ(offerHost_->count("disconnect(true)") + offerHost_->count("disconnect(false)"), 0u);
    EXPECT_TRUE(service_.postedLogs(offerEnd_->record().configuration->session.sessionId, "offer").empty());
}

TEST_F(ConnectedSessionTest, ResetsAreCountedAndADelegateThatThrowsStillHearsEveryReport) {
    offerHost_->throwFrom("quorvaneWillResetConnection");
    for (int reset = 0; reset < 2; ++reset) {
        offerEnd_->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerWillResetConnection(); });
    }
    ASSERT_TRUE(eventually([this] {
        auto lines = logLines();
        return std::count(lines.begin(), lines.end(), "ERROR Host code threw: host failure") == 2;
    }));
    network_->report(FakeReachabilitySource::offline);
    network_->drain();
    offerEnd_->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(false); });

    // The report does not wait for the upload, which waits for the network.
    ASSERT_TRUE(offerHost_->waitFor("disconnect(false)"));
    EXPECT_THAT(offerHost_->events(), ElementsAre("connect", "reset", "reset", "disconnect(false)"));
    EXPECT_TRUE(service_.postedLogs(offerEnd_->record().configuration->session.sessionId, "offer").empty());
    network_->report(FakeReachabilitySource::online);
    auto uploaded = uploads(*offerEnd_, "offer");
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_THAT(uploaded[0]["metrics"], ::testing::Contains(::testing::Truly([](const nlohmann::json& entry) {
                    return entry["data"] == nlohmann::json{{"Num Reconnects", 2}};
                })));
    auto thrown = std::count_if(uploaded[0]["entries"].begin(), uploaded[0]["entries"].end(), [](const auto& entry) {
        return entry["level"] == "ERROR" && entry["method"] == "quorvaneWillResetConnection";
    });
    EXPECT_EQ(thrown, 2);
    EXPECT_THAT(offerEnd_->record().calls, ElementsAre("connectAsOffer"));
    EXPECT_FALSE(logged("INFO Closing session"));
}

TEST_F(ConnectedSessionTest, ProgressOfALargeMessageIsLoggedAndReported) {
    struct Case {
        std::uint16_t received, total;
        const char* percent;
    };
    for (const auto& [received, total, percent] : {Case{1, 4, "25.0"}, Case{1, 3, "33.333336"},
                                                   Case{3, 3, "100.0"}, Case{0, 0, "0.0"}}) {
        offerEnd_->raise([received, total](TransportLayerDelegate& delegate) {
            delegate.transportLayerWillReceiveMessage(9, 7, received, total);
        });
        const auto event = "progress(9,7," + std::to_string(received) + "," + std::to_string(total) + ")";
        ASSERT_TRUE(offerHost_->waitFor(event)) << event;
        EXPECT_TRUE(logged(std::string("DEBUG [") + percent + "%] Receiving message with category 7")) << percent;
    }
}

TEST_F(ConnectedSessionTest, CaptureAndReceiveFailureReportsReachTheirOwnMethods) {
    offerEnd_->raise([](TransportLayerDelegate& delegate) {
        delegate.transportLayerAddedMediaStream(nullptr);
        delegate.transportLayerAddedScreenCapture(nullptr);
        delegate.transportLayerFailedToAddMediaStream(std::make_exception_ptr(std::runtime_error("camera")));
        delegate.transportLayerFailedToAddScreenCapture(std::make_exception_ptr(std::runtime_error("screen")));
        delegate.transportLayerFailedToReceiveMessage(12, 34);
    });
    ASSERT_TRUE(offerHost_->waitFor("failedToReceive(12,34)"));
    EXPECT_THAT(offerHost_->events(), ElementsAre("connect", "videoStarted", "screenStarted", "videoFailed",
                                                  "screenFailed", "failedToReceive(12,34)"));
    EXPECT_TRUE(logged("ERROR Failed to receive message with ID 12 and category 34"));
}
