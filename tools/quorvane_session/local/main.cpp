// quorvane_session_local: the quorvane_session host program for sessions on this machine only, as
// scripts/demo and the acceptance tests run it, one process per side. It differs in two internal
// seams: WebRTC is held to loopback, and the throw-away CA of the local broker given with
// --ca-file (the first two arguments) is trusted instead of the system store, by signaling and by
// the REST client alike (the mock service may serve HTTPS with the broker's certificate).

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "HostProgram.hpp"
#include "Options.hpp"
#include "Shell.hpp"
#include "client/QuorvaneClientDependencies.hpp"
#include "connection/WebRtcClient.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "signaling/MosquittoTransport.hpp"

namespace {

const char* const localUsage =
    "usage: quorvane_session_local --ca-file CA_FILE device|agent --url URL --api-key KEY [options]\n"
    "  --ca-file CA_FILE       the local broker's CA (MQTT_CA_FILE as quorvane_broker prints it),\n"
    "                          trusted by signaling and by the REST client; always the first option\n"
    "then the options of quorvane_session:\n";

bool asksForHelp(int argc, char** argv) {
    return std::any_of(argv + 1, argv + argc, [](const std::string& word) { return word == "--help" || word == "-h"; });
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quorvane;
    if (asksForHelp(argc, argv)) {
        std::cout << localUsage << session::usage << "\n" << session::shellHelp();
        return 0;
    }
    if (argc < 3 || std::string(argv[1]) != "--ca-file") {
        std::cerr << "quorvane_session_local: --ca-file CA_FILE comes first\n" << localUsage << session::usage;
        return 2;
    }
    const std::string caFile = argv[2];
    std::vector<char*> rest = {argv[0]};
    rest.insert(rest.end(), argv + 3, argv + argc);

    rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true);
    return session::runHostProgram(
        static_cast<int>(rest.size()), rest.data(),
        [caFile](const auto& options, auto logger, const auto& delegate, const auto& queue) {
            QuorvaneClientDependencies dependencies;
            dependencies.makeTransport = [caFile](const TransportLayerConfiguration& configuration) {
                return WebRtcClient::create(configuration, MosquittoTransport::factory(caFile));
            };
            dependencies.restOptions.caFile = caFile;
            return makeQuorvaneClient(options.url, options.apiKey, options.retainLogs, options.timeout,
                                      std::move(logger), delegate, queue, std::move(dependencies));
        });
}
