#include "HostProgram.hpp"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "AgentScript.hpp"
#include "Console.hpp"
#include "DeviceScript.hpp"
#include "HostLogger.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "Shell.hpp"

namespace quorvane::session {

int runHostProgram(int argc, char** argv, const ClientFactory& makeClient) {
    Options options;
    try {
        bool help = false;
        options = parseOptions(argc, argv, help);
        if (help) {
            std::cout << usage << "\n" << shellHelp;
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "quorvane_session: " << error.what() << "\n" << usage;
        return 2;
    }

    Console console(stdout, isatty(STDOUT_FILENO) != 0);
    SessionEvents events;
    auto queue = DispatchQueue::create("host");
    SessionHost::Settings settings{options.saveFolder, std::nullopt};
    if (options.script && options.role == Options::Role::device) settings.chatReply = DeviceScript::chatReply;
    auto host = std::make_shared<SessionHost>(console, events, queue, settings);
    std::shared_ptr<QuorvaneClient> client;
    try {
        client = makeClient(options, std::make_shared<HostLogger>(events, options.verbose), host, queue);
    } catch (const std::invalid_argument& error) {
        // The library refuses the options it cannot work with (a time-out out of its range).
        std::cerr << "quorvane_session: " << error.what() << "\n" << usage;
        return 2;
    }
    host->attach(client);

    if (options.script) {
        const bool ok = options.role == Options::Role::device ? DeviceScript(console, events, client, *host).run()
                                                              : AgentScript(console, events, client, options.pin).run();
        return ok ? 0 : 1;
    }
    Shell shell(console, client, *host);
    auto started = options.role == Options::Role::device ? shell.startSession() : shell.join(options.pin);
    try {
        started.wait();
    } catch (...) {
        return 1;
    }
    shell.run(std::cin);
    return 0;
}

}  // namespace quorvane::session
