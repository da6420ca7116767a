// quorvane_mock_rest: the session service in memory, on 127.0.0.1, for tests and the demo.
// Prints its base URL on one line once it accepts requests, then runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "MockRestService.hpp"

namespace {

const char* usage =
    "usage: quorvane_mock_rest [options]\n"
    "  --port N               port on 127.0.0.1 (default 0: a free port)\n"
    "  --api-key KEY          the accepted x-api-key (default mock-api-key)\n"
    "  --cert FILE --key FILE serve HTTPS with this certificate and key\n"
    "  --mqtt-host HOST       broker host handed out (default 127.0.0.1)\n"
    "  --mqtt-ssl-port N      broker TLS port handed out (default 8883; 0 leaves it out)\n"
    "  --mqtt-wss-port N, --mqtt-ws-port N, --mqtt-tcp-port N\n"
    "  --ice-server URL[,USERNAME,CREDENTIAL]   an ICE server handed out (repeatable)\n"
    "  --session-token TOKEN  the token of every session (default: a random one each)\n"
    "  --print-log-uploads    print a line for each log upload accepted\n"
    "  --fault SPEC           e.g. status=500,path=/connection,count=1 | delay=2 | malformed |\n"
    "                         drop | endless | redirect=URL (repeatable)\n";

quorvane::mock::MockIceServer parseIceServer(const std::string& text) {
    std::stringstream items(text);
    std::string url, username, credential;
    std::getline(items, url, ',');
    quorvane::mock::MockIceServer server{{url}, std::nullopt, std::nullopt};
    if (std::getline(items, username, ',')) server.username = username;
    if (std::getline(items, credential, ',')) server.credential = credential;
    return server;
}

std::optional<int> portOrNone(const std::string& text) {
    int port = std::stoi(text);
    return port == 0 ? std::nullopt : std::optional<int>(port);
}

/// "log upload: session ID, role ROLE, N entries, metrics: name=value ...", the metric entries'
/// data in order.
void printLogUpload(const std::string& sessionId, const std::string& role, const nlohmann::json& body) {
    std::ostringstream line;
    const auto entries = body.value("entries", nlohmann::json::array());
    line << "log upload: session " << sessionId << ", role " << role << ", " << entries.size() << " entries, metrics:";
    for (const auto& metric : body.value("metrics", nlohmann::json::array())) {
        if (!metric.is_object() || !metric.contains("data") || !metric["data"].is_object()) continue;
        for (const auto& [name, value] : metric["data"].items()) line << " " << name << "=" << value.dump();
    }
    std::cout << line.str() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    quorvane::mock::MockRestOptions options;
    std::vector<quorvane::mock::Fault> faults;
    int port = 0;
    try {
        for (int i = 1; i < argc; ++i) {
            std::string option = argv[i];
            if (option == "--help" || option == "-h") {
                std::cout << usage;
                return 0;
            }
            if (option == "--print-log-uploads") {
                options.onLogsPosted = printLogUpload;
                continue;
            }
            if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
            std::string value = argv[++i];
            if (option == "--port") port = std::stoi(value);
            else if (option == "--api-key") options.apiKey = value;
            else if (option == "--cert") options.certificateFile = value;
            else if (option == "--key") options.keyFile = value;
            else if (option == "--mqtt-host") options.mqttHost = value;
            else if (option == "--mqtt-ssl-port") options.mqttSslPort = portOrNone(value);
            else if (option == "--mqtt-wss-port") options.mqttWssPort = portOrNone(value);
            else if (option == "--mqtt-ws-port") options.mqttWsPort = portOrNone(value);
            else if (option == "--mqtt-tcp-port") options.mqttTcpPort = portOrNone(value);
            else if (option == "--ice-server") options.iceServers.push_back(parseIceServer(value));
            else if (option == "--session-token") options.sessionToken = value;
            else if (option == "--fault") faults.push_back(quorvane::mock::parseFault(value));
            else throw std::invalid_argument("unknown option " + option);
        }
        if (options.certificateFile.empty() != options.keyFile.empty()) {
            throw std::invalid_argument("--cert and --key go together");
        }
    } catch (const std::exception& error) {
        std::cerr << "quorvane_mock_rest: " << error.what() << "\n" << usage;
        return 2;
    }

    // Block the stop signals before any thread starts, then wait for one of them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    quorvane::mock::MockRestService service(options);
    for (auto& fault : faults) service.injectFault(fault);
    try {
        std::cout << service.start(port) << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "quorvane_mock_rest: " << error.what() << "\n";
        return 1;
    }
    int received = 0;
    sigwait(&signals, &received);
    service.stop();
    return 0;
}
