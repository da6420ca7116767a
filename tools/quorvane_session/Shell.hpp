#pragma once

#include <istream>
#include <memory>
#include <string>

#include "Console.hpp"
#include "Sender.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::session {

/// Reads typed commands, one a line, and carries them out; results are printed as they come.
class Shell {
public:
    Shell(Console& console, std::shared_ptr<QuorvaneClient> client, SessionHost& host)
        : console_(console), client_(client), host_(host), sender_(console, client) {}

    /// Creates a new session as the device; prints "PIN: " and its PIN, or why it failed.
    Promise<void> startSession();
    /// Joins the session with `pin` as the agent; prints the outcome.
    Promise<void> join(const std::string& pin);

    /// Runs until "quit" or the end of `input`.
    void run(std::istream& input);
    /// Carries out one line; false for "quit".
    bool execute(const std::string& line);

private:
    Console& console_;
    const std::shared_ptr<QuorvaneClient> client_;
    SessionHost& host_;
    Sender sender_;
};

extern const char* const shellHelp;

}  // namespace quorvane::session
