#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvane::mock {

/// A misbehaviour the service shows for matching requests, in place of its normal answer (a
/// delay alone is followed by the normal answer).
struct Fault {
    std::string path;                 ///< applies to requests whose path starts with this; empty: all
    int status = 0;                   ///< answer with this HTTP status and a small JSON body
    std::optional<std::string> body;  ///< answer with this body, and `status` or 200
    bool malformedJson = false;       ///< answer 200 with a body that is not JSON
    double delaySeconds = 0;          ///< wait this long before answering (or until the service stops)
    bool dropConnection = false;      ///< close the connection in the middle of the answer (after `body`)
    double trickleSeconds = 0;        ///< send `body` 16 bytes at a time, pausing this long before each
    bool endlessBody = false;         ///< answer 200 with a body that never ends
    std::string redirectTo;           ///< answer 307 with this location
    int count = -1;                   ///< the number of requests it applies to; -1: every request
};

/// One ICE server handed out by "/connection"; absent fields are left out.
struct MockIceServer {
    std::vector<std::string> urls;
    std::optional<std::string> username;
    std::optional<std::string> credential;
};

struct MockRestOptions {
    std::string apiKey = "mock-api-key";  ///< any other "x-api-key" is answered 401
    std::string sessionToken;             ///< the token of every new session; empty: a random one each
    std::string mqttHost = "127.0.0.1";
    std::optional<int> mqttSslPort = 8883;
    std::optional<int> mqttWssPort;
    std::optional<int> mqttWsPort;
    std::optional<int> mqttTcpPort;
    std::vector<MockIceServer> iceServers;
    std::string certificateFile;  ///< with keyFile: serve HTTPS
    std::string keyFile;
    /// Told of each request as it arrives, before any fault applies, with its method and path.
    std::function<void(const std::string& method, const std::string& path)> onRequest;
    /// Told of each log body accepted, with its session id and role, after it is stored.
    std::function<void(const std::string& sessionId, const std::string& role, const nlohmann::json& body)> onLogsPosted;
};

/// A request as the service received it.
struct RecordedRequest {
    std::string method;
    std::string target;  ///< path and query as sent, not decoded
    std::optional<std::string> apiKey;
    std::optional<std::string> contentType;
    std::string body;
};

/// The REST service in memory: POST "/sessions", GET "/sessions/<pin>", GET "/sessions",
/// GET "/connection", POST "/logs/<session id>/<role>". Listens on 127.0.0.1 only.
class MockRestService {
public:
    explicit MockRestService(MockRestOptions options = {});
    ~MockRestService();
    MockRestService(const MockRestService&) = delete;
    MockRestService& operator=(const MockRestService&) = delete;

    /// Starts listening on `port` (0: a free port) and returns the base URL, for example
    /// "http://127.0.0.1:41234". Throws std::runtime_error when it cannot listen.
    std::string start(int port = 0);
    /// Stops listening and waits for the answers in progress.
    void stop();

    void injectFault(Fault fault);
    void clearFaults();
    std::vector<RecordedRequest> requests() const;
    /// The log bodies posted for a session and role, oldest first.
    std::vector<nlohmann::json> postedLogs(const std::string& sessionId, const std::string& role) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Reads a fault from "key=value" items separated by commas: path=, status=, delay=, count=,
/// redirect=, and the flags malformed, drop and endless. Throws std::invalid_argument.
Fault parseFault(const std::string& text);

}  // namespace quorvane::mock
