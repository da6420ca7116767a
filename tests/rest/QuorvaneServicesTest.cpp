#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MockRestService.hpp"
#include "model/PlatformError.hpp"
#include "quorvane/Errors.hpp"
#include "rest/DecodingError.hpp"
#include "rest/QuorvaneServices.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Queues.hpp"

using namespace quorvane;
using quorvane::mock::Fault;
using quorvane::mock::MockRestService;
using quorvane::testing::FakeReachabilitySource;
using ::testing::HasSubstr;

namespace {

const std::string apiKey = "mock-api-key";

/// The error a promise was rejected with, rethrown as E; fails the test for another outcome.
template <class E, class T>
E rejection(const Promise<T>& promise) {
    try {
        promise.wait();
    } catch (const E& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "rejected with another error: " << other.what();
        throw;
    }
    ADD_FAILURE() << "fulfilled";
    throw std::logic_error("fulfilled");
}

class QuorvaneServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        mock::MockRestOptions options;
        options.mqttSslPort = 18883;
        options.mqttWssPort = 18884;
        options.iceServers = {{{"turn:127.0.0.1:3478"}, "user", "pass"}, {{"stun:127.0.0.1:3478"}, {}, {}}};
        service_ = std::make_unique<MockRestService>(options);
        base_ = service_->start();
        network_ = std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
        gate_ = NetworkStatus::create(Reachability::create(network_, DispatchQueue::main()));
    }

    std::shared_ptr<QuorvaneServices> client(std::string base = {}, std::string key = apiKey,
                                             RestTransportOptions options = {}) {
        return std::make_shared<QuorvaneServices>(base.empty() ? base_ : base, key, gate_, options);
    }

    std::unique_ptr<MockRestService> service_;
    std::string base_;
    std::shared_ptr<FakeReachabilitySource> network_;
    std::shared_ptr<NetworkStatus> gate_;
};

}  // namespace

TEST_F(QuorvaneServicesTest, FiveRequestsSendTheirMethodPathKeyAndBodyAndDecodeTheAnswers) {
    auto services = client();
    auto created = services->createSupportSession().wait();
    auto joined = services->getSupportSession(created.pin).wait();
    EXPECT_EQ(joined.sessionId, created.sessionId);
    EXPECT_EQ(joined.token, created.token);
    EXPECT_EQ(joined.role, "answer");
    auto all = services->getAllSupportSessions().wait();
    ASSERT_EQ(all.sessions.size(), 1u);
    EXPECT_EQ(all.sessions[0].pin, created.pin);
    auto info = services->getConnectionInformation().wait();
    EXPECT_EQ(info.mqtt.server, "127.0.0.1");
    EXPECT_EQ(info.mqtt.ports.ssl, 18883);
    EXPECT_EQ(info.mqtt.ports.wss, 18884);
    ASSERT_EQ(info.iceServers.size(), 2u);
    EXPECT_EQ(info.iceServers[0].credential, "pass");
    EXPECT_FALSE(info.iceServers[1].username.has_value());
    nlohmann::json logs = {{"entries", {{{"message", "hello"}}}}, {"metrics", nlohmann::json::array()}};
    services->postLogs(logs, created.sessionId, WebRtcClientRole::offer).wait();

    auto requests = service_->requests();
    ASSERT_EQ(requests.size(), 5u);
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& r : requests) {
        seen.emplace_back(r.method, r.target);
        EXPECT_EQ(r.apiKey, apiKey);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                        {"POST", "/sessions"},
                        {"GET", "/sessions/" + created.pin},
                        {"GET", "/sessions"},
                        {"GET", "/connection"},
                        {"POST", "/logs/" + created.sessionId + "/offer"}}));
    // Only the log upload has a body; the POST that creates a session has none and no type.
    EXPECT_FALSE(requests[0].contentType.has_value());
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[4].contentType, "application/json");
    EXPECT_EQ(nlohmann::json::parse(requests[4].body), logs);
    EXPECT_THAT(requests[4].body, HasSubstr("\n  \"entries\""));  // pretty-printed
    EXPECT_EQ(service_->postedLogs(created.sessionId, "offer"), std::vector<nlohmann::json>{logs});
}

TEST_F(QuorvaneServicesTest, PrintsMethodUrlStatusAndBodyWithTheTokenMasked) {
    auto services = client();
    ::testing::internal::CaptureStdout();
    auto session = services->createSupportSession().wait();
    auto output = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(output, ::testing::StartsWith("POST " + base_ + "/sessions\n200\n{"));
    EXPECT_THAT(output, HasSubstr("\"token\":\"***\""));
    EXPECT_THAT(output, HasSubstr(session.pin));
    EXPECT_THAT(output, ::testing::Not(HasSubstr(session.token)));
}

TEST_F(QuorvaneServicesTest, NonSuccessStatusesRejectWithTheOperationsTitleAndMessage) {
    auto services = client();
    service_->injectFault(Fault{.path = "/sessions", .status = 500, .count = 1});
    auto created = rejection<QuorvaneError>(services->createSupportSession());
    EXPECT_EQ(created.kind(), QuorvaneError::Kind::networkRequestFailed);
    EXPECT_EQ(created.title(), "Create Support Session Failed");
    EXPECT_STREQ(created.what(), "Failed to perform operation");

    ::testing::internal::CaptureStdout();
    auto unknownPin = rejection<QuorvaneError>(services->getSupportSession("000000"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "GET " + base_ + "/sessions/000000\n404\n{\"message\":\"No session with this PIN\"}\n");
    EXPECT_EQ(unknownPin.title(), "Get Support Session Failed");
    EXPECT_STREQ(unknownPin.what(), "Incorrect PIN entered");

    service_->injectFault(Fault{.path = "/connection", .status = 300, .count = 1});
    EXPECT_STREQ(rejection<QuorvaneError>(services->getConnectionInformation()).what(), "Failed to perform operation");

    auto wrongKey = rejection<QuorvaneError>(client({}, "wrong-key")->getAllSupportSessions());
    EXPECT_EQ(wrongKey.title(), "Get All Support Sessions Failed");
    EXPECT_EQ(service_->requests().back().apiKey, "wrong-key");
}

TEST_F(QuorvaneServicesTest, ASuccessStatusIsJudgedOnlyByDecodingTheBody) {
    auto services = client();
    // 299 is a success: the error body is decoded, and fails as a record.
    service_->injectFault(Fault{.path = "/connection", .status = 299, .count = 1});
    EXPECT_EQ(rejection<DecodingError>(services->getConnectionInformation()).kind(), DecodingError::Kind::keyNotFound);
    service_->injectFault(Fault{.path = "/connection", .malformedJson = true, .count = 1});
    EXPECT_EQ(rejection<DecodingError>(services->getConnectionInformation()).kind(),
              DecodingError::Kind::dataCorrupted);
    service_->injectFault(Fault{.path = "/logs", .malformedJson = true, .count = 1});
    auto session = services->createSupportSession().wait();
    EXPECT_THROW(services->postLogs({{"entries", nlohmann::json::array()}}, session.sessionId, WebRtcClientRole::answer)
                     .wait(),
                 DecodingError);
}

TEST_F(QuorvaneServicesTest, TransportFailuresRejectWithTheTransportsDescription) {
    auto impatient = client({}, apiKey, RestTransportOptions{.timeoutSeconds = 0.2});
    service_->injectFault(Fault{.path = "/connection", .delaySeconds = 0.8, .count = 1});
    ::testing::internal::CaptureStdout();
    auto timedOut = rejection<QuorvaneError>(impatient->getConnectionInformation());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GET " + base_ + "/connection\nNo response status code\n");
    EXPECT_EQ(timedOut.title(), "Get Connection Information Failed");
    EXPECT_THAT(timedOut.what(), HasSubstr("timed out"));

    service_->injectFault(Fault{.path = "/sessions", .dropConnection = true, .count = 1});
    auto dropped = rejection<QuorvaneError>(client()->getAllSupportSessions());
    EXPECT_EQ(dropped.title(), "Get All Support Sessions Failed");
    EXPECT_STRNE(dropped.what(), "");

    service_->stop();
    auto refused = rejection<QuorvaneError>(client()->createSupportSession());
    EXPECT_EQ(refused.title(), "Create Support Session Failed");
    EXPECT_THAT(refused.what(), HasSubstr("onnect"));
}

TEST_F(QuorvaneServicesTest, IdsCannotChangeThePathAndBadUrlsOrKeysAreRefusedAtOnce) {
    auto services = client();
    rejection<QuorvaneError>(services->getSupportSession("12/../x?y=1#z"));
    EXPECT_EQ(service_->requests().back().target, "/sessions/12%2F%2E%2E%2Fx%3Fy%3D1%23z");

    ::testing::internal::CaptureStdout();
    auto emptyPin = rejection<PlatformError>(services->getSupportSession(""));
    auto emptySession = rejection<PlatformError>(services->postLogs(nlohmann::json::object(), "", WebRtcClientRole::offer));
    auto badBase = rejection<PlatformError>(client("not a url")->getConnectionInformation());
    auto splitKey = rejection<QuorvaneError>(client({}, "key\r\nx-other: 1")->getConnectionInformation());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(emptyPin.what(), "Cannot create URL");
    EXPECT_EQ(emptyPin.domain(), "");
    EXPECT_EQ(emptyPin.code(), 0);
    EXPECT_STREQ(emptySession.what(), "Cannot create URL");
    EXPECT_STREQ(badBase.what(), "Cannot create URL");
    EXPECT_EQ(splitKey.title(), "Get Connection Information Failed");
    EXPECT_EQ(service_->requests().size(), 1u);

    // The base URL is used as given: a trailing slash doubles the slash.
    rejection<QuorvaneError>(client(base_ + "/")->getConnectionInformation());
    EXPECT_EQ(service_->requests().back().target, "//connection");
}

TEST_F(QuorvaneServicesTest, RedirectsAreFollowedOnlyWithinTheSameHost) {
    auto services = client();
    service_->injectFault(Fault{.path = "/connection", .redirectTo = base_ + "/connection", .count = 1});
    services->getConnectionInformation().wait();
    EXPECT_EQ(service_->requests().size(), 2u);

    MockRestService elsewhere;
    auto otherBase = elsewhere.start();
    service_->injectFault(Fault{.path = "/connection", .redirectTo = otherBase + "/connection", .count = 1});
    EXPECT_STREQ(rejection<QuorvaneError>(services->getConnectionInformation()).what(), "Failed to perform operation");
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(QuorvaneServicesTest, RequestsWaitForTheNetworkAndAreSentOnceItIsBack) {
    auto services = client();
    network_->report(FakeReachabilitySource::offline);
    network_->drain();
    ::testing::internal::CaptureStdout();
    auto info = services->getConnectionInformation();
    quorvane::testing::drain(DispatchQueue::main());
    EXPECT_TRUE(info.isPending());
    EXPECT_TRUE(service_->requests().empty());
    network_->report(FakeReachabilitySource::online);
    info.wait();
    EXPECT_EQ(::testing::internal::GetCapturedStdout().substr(0, 4), "GET ");
    EXPECT_EQ(service_->requests().size(), 1u);
}

TEST_F(QuorvaneServicesTest, AnUploadInFlightCompletesAfterTheClientIsReleased) {
    auto services = client();
    auto session = services->createSupportSession().wait();
    service_->injectFault(Fault{.path = "/logs", .delaySeconds = 0.3, .count = 1});
    ::testing::internal::CaptureStdout();
    auto upload = services->postLogs({{"entries", {"last words"}}}, session.sessionId, WebRtcClientRole::answer);
    services.reset();
    upload.wait();
    // Without the client the first line shows the method and the path alone.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "POST /logs/" + session.sessionId + "/answer\n200\ntrue\n");
    EXPECT_EQ(service_->postedLogs(session.sessionId, "answer").size(), 1u);
}

TEST_F(QuorvaneServicesTest, HttpsTrustsOnlyWhatItIsToldTo) {
    // A throw-away CA and server certificate, made for this run only.
    auto dir = std::filesystem::temp_directory_path() / ("quorvane-ca-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
    std::string d = dir.string();
    std::string script =
        "cd '" + d + "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=TestCA && "
        "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 1 "
        "-extfile ext.cnf";
    ASSERT_EQ(std::system(("(" + script + ") >/dev/null 2>&1").c_str()), 0);

    mock::MockRestOptions options;
    options.certificateFile = d + "/server.pem";
    options.keyFile = d + "/server.key";
    MockRestService secure(options);
    auto base = secure.start();
    EXPECT_EQ(base.rfind("https://127.0.0.1:", 0), 0u);

    auto trusting = client(base, apiKey, RestTransportOptions{.caFile = d + "/ca.pem"});
    EXPECT_FALSE(trusting->createSupportSession().wait().pin.empty());
    auto systemOnly = rejection<QuorvaneError>(client(base)->createSupportSession());
    EXPECT_EQ(systemOnly.title(), "Create Support Session Failed");
    secure.stop();
    std::filesystem::remove_all(dir);
}
