#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MockRestService.hpp"
#include "model/PlatformError.hpp"
#include "quorvane/Errors.hpp"
#include "rest/DecodingError.hpp"
#include "rest/HttpSession.hpp"
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

/// A throw-away CA ("ca.pem"), a second one ("other-ca.pem") and a certificate for 127.0.0.1
/// signed by the first ("server.pem", "server.key"), in a folder made for this run only.
class Certificates {
public:
    Certificates() {
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / "ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
        std::string script =
            "cd '" + folder_.string() + "' && "
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj /CN=TestCA && "
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.pem -days 1 "
            "-subj /CN=OtherCA && "
            "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 && "
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 1 "
            "-extfile ext.cnf";
        if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0) ADD_FAILURE() << "openssl failed";
    }
    ~Certificates() { std::filesystem::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path folder_ =
        std::filesystem::temp_directory_path() / ("quorvane-ca-" + std::to_string(::getpid()));
};

template <class T>
void awaitSettled(const Promise<T>& promise) {
    try {
        promise.wait();
    } catch (...) {
    }
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

TEST_F(QuorvaneServicesTest, TokensAreMaskedInBodiesOfAnyLengthAndShape) {
    const std::string longToken(200'000, 'k');
    struct Case {
        std::string body;
        bool cutOff;  // the connection drops right after the body
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"{\"token\" : \"a\\\"b\\\\\", \"n\":1}\r\n\r\n{\"token\":\"x\"}", false,
         "{\"token\" : \"***\", \"n\":1}\n{\"token\":\"***\"}"},
        {"{\"token\":\"" + longToken + "\",\"pin\":\"1\"}", false, "{\"token\":\"***\",\"pin\":\"1\"}"},
        {"{\"pin\":\"1\",\"token\":\"secret-part", true, "{\"pin\":\"1\",\"token\":\"***"},
        {"{\"token\":\"" + longToken, true, "{\"token\":\"***"},
    };
    auto services = client();
    for (const auto& c : cases) {
        service_->injectFault(Fault{.path = "/connection", .body = c.body, .dropConnection = c.cutOff, .count = 1});
        ::testing::internal::CaptureStdout();
        awaitSettled(services->getConnectionInformation());
        auto output = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(output.substr(output.find('\n', output.find('\n') + 1) + 1), c.printed + "\n") << c.printed;
    }
}

TEST_F(QuorvaneServicesTest, AnswerBodiesAreLimitedTo16MiB) {
    const std::string record = R"({"mqtt":{"server":"b","ports":{}},"iceServers":[]})";
    const auto limit = HttpSession::maximumBodySize;
    auto services = client({}, apiKey, RestTransportOptions{.timeoutSeconds = 5});

    service_->injectFault(Fault{.path = "/connection", .body = record + std::string(limit - record.size(), ' '), .count = 1});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(services->getConnectionInformation().wait().mqtt.server, "b");
    EXPECT_EQ(::testing::internal::GetCapturedStdout().size(), ("GET " + base_ + "/connection\n200\n").size() + limit + 1);

    for (auto fault : {Fault{.path = "/connection", .body = record + std::string(limit + 1 - record.size(), ' '), .count = 1},
                       Fault{.path = "/connection", .endlessBody = true, .count = 1}}) {
        service_->injectFault(fault);
        ::testing::internal::CaptureStdout();
        auto answer = services->getConnectionInformation();
        awaitSettled(answer);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GET " + base_ + "/connection\nNo response status code\n");
        auto tooLarge = rejection<QuorvaneError>(answer);
        EXPECT_EQ(tooLarge.title(), "Get Connection Information Failed");
        EXPECT_STREQ(tooLarge.what(), "The answer body is larger than the limit of 16777216 bytes");
    }
}

TEST_F(QuorvaneServicesTest, TheTimeOutBoundsTheTimeWithoutProgressNotTheWholeTransfer) {
    auto session = client()->createSupportSession().wait();
    // About 250 bytes, 16 at a time every 50 ms: well over the time-out in all, far below it between pieces.
    service_->injectFault(
        Fault{.path = "/sessions", .body = session.toJson().dump(), .trickleSeconds = 0.05, .count = 1});
    auto patient = client({}, apiKey, RestTransportOptions{.timeoutSeconds = 0.3});
    EXPECT_EQ(patient->getSupportSession(session.pin).wait().token, session.token);
}

TEST_F(QuorvaneServicesTest, IntegersMustBeExactlyWholeAndInRange) {
    struct Case {
        std::string text;
        std::optional<std::int64_t> ttl;  // none: the decode fails
    };
    const std::vector<Case> cases = {
        {"5.0", 5},
        {"-0.0", 0},
        {"0.5e1", 5},
        {"12300E-2", 123},
        {"9007199254740992.0", 9007199254740992},
        {"-9007199254740992e0", -9007199254740992},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"5.5", std::nullopt},
        {"1.0000000000000000001", std::nullopt},
        {"4503599627370496.5", std::nullopt},
        {"9007199254740993.0", std::nullopt},
        {"1e19", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"-9223372036854775900", std::nullopt},
        {"-9223372036854775808.5", std::nullopt},
        {"-9223372036854775808.0", std::nullopt},
    };
    auto services = client();
    auto record = services->createSupportSession().wait().toJson().dump();
    record.replace(record.find("3600"), 4, "%");
    for (const auto& c : cases) {
        auto body = record;
        body.replace(body.find('%'), 1, c.text);
        service_->injectFault(Fault{.path = "/sessions", .body = body, .count = 1});
        ::testing::internal::CaptureStdout();
        auto answer = services->getSupportSession("1");
        awaitSettled(answer);
        ::testing::internal::GetCapturedStdout();
        if (c.ttl) {
            EXPECT_EQ(answer.wait().ttl, *c.ttl) << c.text;
        } else {
            EXPECT_EQ(rejection<DecodingError>(answer).codingPath(), "ttl") << c.text;
        }
    }
}

TEST_F(QuorvaneServicesTest, LogTextThatIsNotUtf8IsReplacedAndPosted) {
    auto services = client();
    auto session = services->createSupportSession().wait();
    services->postLogs({{"entries", {{{"message", "0123456789\xFF"}}}}}, session.sessionId, WebRtcClientRole::offer)
        .wait();
    auto posted = service_->postedLogs(session.sessionId, "offer");
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0]["entries"][0]["message"], "0123456789\xEF\xBF\xBD");
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
    Certificates certificates;
    mock::MockRestOptions options;
    options.certificateFile = certificates.path("server.pem");
    options.keyFile = certificates.path("server.key");
    MockRestService secure(options);
    auto base = secure.start();
    EXPECT_EQ(base.rfind("https://127.0.0.1:", 0), 0u);

    auto trusting = client(base, apiKey, RestTransportOptions{.caFile = certificates.path("ca.pem")});
    EXPECT_FALSE(trusting->createSupportSession().wait().pin.empty());
    auto systemOnly = rejection<QuorvaneError>(client(base)->createSupportSession());
    EXPECT_EQ(systemOnly.title(), "Create Support Session Failed");
}

TEST_F(QuorvaneServicesTest, ACaFileReplacesTheSystemStore) {
    // The check runs in a second process of this test, in a mount namespace of its own where the
    // system store holds only the CA that signed the server.
    if (const char* folder = std::getenv("QUORVANE_TEST_CERTIFICATES")) {
        mock::MockRestOptions options;
        options.certificateFile = std::string(folder) + "/server.pem";
        options.keyFile = std::string(folder) + "/server.key";
        MockRestService secure(options);
        auto base = secure.start();
        EXPECT_FALSE(client(base)->createSupportSession().wait().pin.empty());  // the store is in use
        auto otherCa = client(base, apiKey, RestTransportOptions{.caFile = std::string(folder) + "/other-ca.pem"});
        EXPECT_EQ(rejection<QuorvaneError>(otherCa->createSupportSession()).title(), "Create Support Session Failed");
        return;
    }
    if (::geteuid() != 0 || std::system("unshare --mount true >/dev/null 2>&1") != 0 ||
        !std::filesystem::is_directory("/etc/ssl/certs")) {
        GTEST_SKIP() << "needs root and mount namespaces";
    }
    Certificates certificates;
    auto store = certificates.path("store");
    std::filesystem::create_directory(store);
    std::filesystem::copy_file(certificates.path("ca.pem"), store + "/ca-certificates.crt");
    std::filesystem::copy_file(certificates.path("ca.pem"), store + "/test-ca.pem");
    ASSERT_EQ(std::system(("openssl rehash '" + store + "' >/dev/null 2>&1").c_str()), 0);

    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string command = "QUORVANE_TEST_CERTIFICATES='" + certificates.path("") +
                          "' unshare --mount --propagation private sh -c "
                          "'mount --bind \"$0\" /etc/ssl/certs && exec /proc/" + std::to_string(::getpid()) +
                          "/exe --gtest_filter=\"$1\"' '" + store + "' '" + test->test_suite_name() + "." +
                          test->name() + "' 2>&1";
    std::string output;
    FILE* child = ::popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child)) output.append(buffer, n);
    EXPECT_EQ(::pclose(child), 0) << output;
    EXPECT_THAT(output, HasSubstr("[  PASSED  ] 1 test."));
}
