#include "AcceptanceFixture.hpp"

#include <chrono>

#include "support/Eventually.hpp"

namespace quorvane::testing {

mock::MockRestOptions AcceptanceTest::serviceOptions() const {
    mock::MockRestOptions options;
    options.apiKey = apiKey;
    options.mqttHost = broker.host();
    options.mqttSslPort = broker.port();
    options.sessionToken = sessionToken;
    return options;
}

void AcceptanceTest::startService(std::optional<mock::MockRestOptions> options) {
    service = std::make_unique<mock::MockRestService>(options.value_or(serviceOptions()));
    url = service->start(0);
}

std::vector<std::string> AcceptanceTest::arguments(const std::string& role, const std::string& pinToJoin) const {
    std::vector<std::string> words = {"--ca-file", broker.caFile(), role,        "--url", url,
                                      "--api-key", apiKey,          "--timeout", timeout,  "--verbose"};
    if (!pinToJoin.empty()) words.insert(words.end(), {"--pin", pinToJoin});
    return words;
}

void AcceptanceTest::startDevice(const std::vector<std::string>& extra) {
    if (!service) startService();
    auto words = arguments("device");
    words.insert(words.end(), extra.begin(), extra.end());
    device = std::make_unique<PeerProcess>(words, deviceEnvironment);
    pin = expectLine(*device, "^PIN: (\\d+)$").at(1);
}

void AcceptanceTest::startBoth(const std::vector<std::string>& deviceExtra) {
    startDevice(deviceExtra);
    agent = std::make_unique<PeerProcess>(arguments("agent", pin));
    expectLine(*device, "^report: connected to the peer$");
    expectLine(*agent, "^report: connected to the peer$");
}

std::vector<std::string> AcceptanceTest::expectLine(PeerProcess& peer, const std::string& pattern, double seconds,
                                                    std::size_t from) {
    if (auto match = peer.waitFor(pattern, seconds, from)) return *match;
    ADD_FAILURE() << "no line matching " << pattern << " within " << seconds << " s; the peer printed:\n"
                  << peer.output() << "its library's last log lines:\n"
                  << peer.libraryLog(60) << "its threads' states: " << peer.threadStates();
    throw std::runtime_error("expected line missing");
}

nlohmann::json AcceptanceTest::deviceLogUpload() {
    nlohmann::json upload;
    const bool uploaded = eventually([&] {
        for (const auto& request : service->requests()) {
            if (request.method == "POST" && request.target.starts_with("/logs/") &&
                request.target.ends_with("/offer")) {
                upload = nlohmann::json::parse(request.body);
                return true;
            }
        }
        return false;
    }, std::chrono::seconds(10));
    if (!uploaded) ADD_FAILURE() << "the device's logs were not uploaded";
    return upload;
}

std::string literal(const std::string& text) {
    static const std::string special = R"(\^$.|?*+()[]{})";
    std::string escaped;
    for (char c : text) {
        if (special.find(c) != std::string::npos) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace quorvane::testing
