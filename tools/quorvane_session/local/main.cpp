// quorvane_session_local: the quorvane_session host program for sessions on this machine only, as
// scripts/demo and the acceptance tests run it, one process per side. It differs in two internal
// seams: WebRTC is held to loopback, and signaling trusts the throw-away CA of the local broker
// given with --ca-file (the first two arguments) instead of the system store.

#include <iostream>
#include <string>
#include <vector>

#include "HostProgram.hpp"
#include "client/QuorvaneClientDependencies.hpp"
#include "connection/WebRtcClient.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "signaling/MosquittoTransport.hpp"

int main(int argc, char** argv) {
    using namespace quorvane;
    if (argc < 3 || std::string(argv[1]) != "--ca-file") {
        std::cerr << "usage: quorvane_session_local --ca-file CA_FILE (device|agent) OPTIONS...\n"
                     "  CA_FILE: the local broker's CA (as quorvane_broker prints it); then the options of\n"
                     "  quorvane_session (quorvane_session_local --ca-file CA_FILE --help lists them)\n";
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
            return makeQuorvaneClient(options.url, options.apiKey, options.retainLogs, options.timeout,
                                      std::move(logger), delegate, queue, std::move(dependencies));
        });
}
