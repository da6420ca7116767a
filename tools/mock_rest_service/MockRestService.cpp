#include "MockRestService.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

namespace quorvane::mock {

namespace {

std::string randomHex(std::mt19937_64& random, int length) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < length; ++i) text += digits[random() % 16];
    return text;
}

nlohmann::json errorBody(const std::string& message) { return {{"message", message}}; }

void answerJson(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

}  // namespace

struct MockRestService::Impl {
    explicit Impl(MockRestOptions o) : options(std::move(o)), random(std::random_device{}()) {}

    MockRestOptions options;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> listenEnded{false};
    std::atomic<bool> stopping{false};  // ends endless answers and delays
    std::mutex stoppingMutex;
    std::condition_variable stoppingChanged;

    mutable std::mutex mutex;  // guards everything below
    std::mt19937_64 random;
    std::vector<Fault> faults;
    std::vector<RecordedRequest> requests;
    std::map<std::string, nlohmann::json> sessionsByPin;  // kept in PIN order
    std::map<std::pair<std::string, std::string>, std::vector<nlohmann::json>> logs;

    /// Records a request once it is answered (its body is read by then, unless a fault answered).
    void record(const httplib::Request& request) {
        std::lock_guard lock(mutex);
        RecordedRequest record{request.method, request.target, std::nullopt, std::nullopt, request.body};
        if (request.has_header("x-api-key")) record.apiKey = request.get_header_value("x-api-key");
        if (request.has_header("Content-Type")) record.contentType = request.get_header_value("Content-Type");
        requests.push_back(std::move(record));
    }

    /// Applies the first matching fault and checks the API key; true when that answered.
    bool preRoute(const httplib::Request& request, httplib::Response& response) {
        if (options.onRequest) options.onRequest(request.method, request.path);
        std::optional<Fault> fault;
        {
            std::lock_guard lock(mutex);
            for (auto it = faults.begin(); it != faults.end(); ++it) {
                if (request.path.rfind(it->path, 0) != 0) continue;
                fault = *it;
                if (it->count > 0 && --it->count == 0) faults.erase(it);
                break;
            }
        }
        if (fault && fault->delaySeconds > 0) {
            std::unique_lock lock(stoppingMutex);
            stoppingChanged.wait_for(lock, std::chrono::duration<double>(fault->delaySeconds),
                                     [this] { return stopping.load(); });
        }
        if (fault && (fault->body || fault->dropConnection)) {
            answerBody(response, *fault);
            return true;
        }
        if (fault && fault->endlessBody) {
            response.status = 200;
            response.set_chunked_content_provider("application/json", [this](size_t, httplib::DataSink& sink) {
                static const std::string piece(64 * 1024, ' ');
                return !stopping && sink.write(piece.data(), piece.size());
            });
            return true;
        }
        if (fault && !fault->redirectTo.empty()) {
            response.status = 307;
            response.set_header("Location", fault->redirectTo);
            return true;
        }
        if (fault && fault->malformedJson) {
            response.status = 200;
            response.set_content("{\"topic\": \"unterminated", "application/json");
            return true;
        }
        if (fault && fault->status != 0) {
            answerJson(response, fault->status, errorBody("Injected fault"));
            return true;
        }
        if (request.get_header_value("x-api-key") != options.apiKey) {
            answerJson(response, 401, errorBody("Unauthorized"));
            return true;
        }
        return false;
    }

    /// Answers with the fault's body: at once, a few bytes at a time, or followed by a dropped
    /// connection (the headers promise more than comes).
    static void answerBody(httplib::Response& response, const Fault& fault) {
        response.status = fault.status != 0 ? fault.status : 200;
        std::string body = fault.body.value_or("");
        if (!fault.dropConnection && fault.trickleSeconds <= 0) return response.set_content(body, "application/json");
        std::size_t length = body.size() + (fault.dropConnection ? 64 : 0);
        response.set_content_provider(
            length, "application/json",
            [body, pause = fault.trickleSeconds](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= body.size()) return false;
                std::size_t piece = pause > 0 ? std::min<std::size_t>(16, body.size() - offset) : body.size() - offset;
                std::this_thread::sleep_for(std::chrono::duration<double>(pause));
                return sink.write(body.data() + offset, piece);
            });
    }

    nlohmann::json newSession() {
        std::lock_guard lock(mutex);
        std::string pin;
        do {
            pin = std::to_string(100000 + random() % 900000);
        } while (sessionsByPin.count(pin));
        auto sessionId = randomHex(random, 32);
        auto token = options.sessionToken.empty() ? randomHex(random, 32) : options.sessionToken;
        nlohmann::json session = {
            {"topic", "quorvane/" + sessionId},     {"pin", pin},
            {"sessionId", sessionId},               {"token", token},
            {"role", "offer"},                      {"offerClient", "offer-" + randomHex(random, 8)},
            {"answerClient", "answer-" + randomHex(random, 8)}, {"ttl", 3600},
        };
        sessionsByPin[pin] = session;
        return session;
    }

    nlohmann::json connection() const {
        nlohmann::json ports = nlohmann::json::object();
        if (options.mqttWsPort) ports["ws"] = *options.mqttWsPort;
        if (options.mqttWssPort) ports["wss"] = *options.mqttWssPort;
        if (options.mqttTcpPort) ports["tcp"] = *options.mqttTcpPort;
        if (options.mqttSslPort) ports["ssl"] = *options.mqttSslPort;
        nlohmann::json servers = nlohmann::json::array();
        for (const auto& server : options.iceServers) {
            nlohmann::json entry = {{"urls", server.urls}};
            if (server.username) entry["username"] = *server.username;
            if (server.credential) entry["credential"] = *server.credential;
            servers.push_back(entry);
        }
        return {{"mqtt", {{"server", options.mqttHost}, {"ports", ports}}}, {"iceServers", servers}};
    }

    void route(httplib::Server& s) {
        s.Post("/sessions", [this](const httplib::Request&, httplib::Response& response) {
            answerJson(response, 200, newSession());
        });
        s.Get("/sessions", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(mutex);
            nlohmann::json list = nlohmann::json::array();
            for (const auto& [pin, session] : sessionsByPin) list.push_back(session);
            answerJson(response, 200, {{"sessions", list}});
        });
        s.Get(R"(/sessions/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex);
            auto found = sessionsByPin.find(request.matches[1]);
            if (found == sessionsByPin.end()) return answerJson(response, 404, errorBody("No session with this PIN"));
            auto session = found->second;
            session["role"] = "answer";
            answerJson(response, 200, session);
        });
        s.Get("/connection", [this](const httplib::Request&, httplib::Response& response) {
            answerJson(response, 200, connection());
        });
        s.Post(R"(/logs/([^/]+)/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
            std::string sessionId = request.matches[1];
            std::string role = request.matches[2];
            if (role != "offer" && role != "answer") return answerJson(response, 400, errorBody("Unknown role"));
            auto body = nlohmann::json::parse(request.body, nullptr, false);
            if (!body.is_object()) return answerJson(response, 400, errorBody("The body is not a JSON object"));
            {
                std::lock_guard lock(mutex);
                bool known = false;
                for (const auto& [pin, session] : sessionsByPin) known = known || session["sessionId"] == sessionId;
                if (!known) return answerJson(response, 404, errorBody("No such session"));
                logs[{sessionId, role}].push_back(body);
            }
            if (options.onLogsPosted) options.onLogsPosted(sessionId, role, body);
            answerJson(response, 200, true);
        });
    }
};

MockRestService::MockRestService(MockRestOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

MockRestService::~MockRestService() { stop(); }

std::string MockRestService::start(int port) {
    if (impl_->server) throw std::logic_error("The mock REST service is already running");
    bool secure = !impl_->options.certificateFile.empty();
    if (secure) {
        impl_->server = std::make_unique<httplib::SSLServer>(impl_->options.certificateFile.c_str(),
                                                             impl_->options.keyFile.c_str());
        if (!impl_->server->is_valid()) {
            impl_->server.reset();
            throw std::runtime_error("Cannot load the certificate or key");
        }
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    auto& server = *impl_->server;
    server.set_tcp_nodelay(true);
    // One request per connection: stopping never waits for idle keep-alive connections.
    server.set_keep_alive_max_count(1);
    server.set_post_routing_handler(
        [this](const httplib::Request& request, httplib::Response&) { impl_->record(request); });
    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        return impl_->preRoute(request, response) ? httplib::Server::HandlerResponse::Handled
                                                  : httplib::Server::HandlerResponse::Unhandled;
    });
    impl_->route(server);
    int bound = port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        impl_->server.reset();
        throw std::runtime_error("Cannot listen on 127.0.0.1 port " + std::to_string(port));
    }
    impl_->listenEnded = false;
    impl_->thread = std::thread([impl = impl_.get()] {
        impl->server->listen_after_bind();
        impl->listenEnded = true;
    });
    // A stop() that comes before the server runs would be missed and leave it listening for good.
    while (!server.is_running() && !impl_->listenEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::string(secure ? "https" : "http") + "://127.0.0.1:" + std::to_string(bound);
}

void MockRestService::stop() {
    if (!impl_->server) return;
    {
        std::lock_guard lock(impl_->stoppingMutex);
        impl_->stopping = true;
    }
    impl_->stoppingChanged.notify_all();
    impl_->server->stop();
    impl_->thread.join();
    impl_->server.reset();
    impl_->stopping = false;
}

void MockRestService::injectFault(Fault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back(std::move(fault));
}

void MockRestService::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<RecordedRequest> MockRestService::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<nlohmann::json> MockRestService::postedLogs(const std::string& sessionId, const std::string& role) const {
    std::lock_guard lock(impl_->mutex);
    auto found = impl_->logs.find({sessionId, role});
    return found == impl_->logs.end() ? std::vector<nlohmann::json>{} : found->second;
}

Fault parseFault(const std::string& text) {
    Fault fault;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        auto equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (key == "path") {
            fault.path = value;
        } else if (key == "status") {
            fault.status = std::stoi(value);
        } else if (key == "delay") {
            fault.delaySeconds = std::stod(value);
        } else if (key == "count") {
            fault.count = std::stoi(value);
        } else if (key == "redirect") {
            fault.redirectTo = value;
        } else if (key == "malformed") {
            fault.malformedJson = true;
        } else if (key == "drop") {
            fault.dropConnection = true;
        } else if (key == "endless") {
            fault.endlessBody = true;
        } else {
            throw std::invalid_argument("Unknown fault item \"" + item + "\"");
        }
    }
    return fault;
}

}  // namespace quorvane::mock
