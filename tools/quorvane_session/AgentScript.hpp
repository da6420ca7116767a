#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Console.hpp"
#include "SessionEvents.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::session {

/// The agent's side of the demo's walkthrough: joins by PIN and leads the session, step by step,
/// checking what comes back. The device answers by SessionHost's rules.
class AgentScript {
public:
    AgentScript(Console& console, SessionEvents& events, std::shared_ptr<QuorvaneClient> client, std::string pin)
        : console_(console), events_(events), client_(std::move(client)), pin_(std::move(pin)) {}

    /// Runs every step; true when each did what it should. Stops at the first that did not, and
    /// then still ends the session.
    bool run();

    /// How a step went, in words.
    struct Check {
        bool ok = false;
        std::string detail;
    };

private:
    /// Prints the step, runs it and prints how it went.
    bool step(const std::string& what, const std::function<Check()>& body);

    Check join();
    Check connected();
    Check chatEachWay();
    Check commandCarriedOut();
    Check commandRefused();
    Check commandTimesOut();
    Check queryInThreeParts();
    Check largeFile();
    Check screenStream();
    Check endSession();

    Console& console_;
    SessionEvents& events_;
    const std::shared_ptr<QuorvaneClient> client_;
    const std::string pin_;
    int steps_ = 0;
};

}  // namespace quorvane::session
