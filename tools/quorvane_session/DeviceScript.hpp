#pragma once

#include <memory>

#include "Console.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::session {

/// The device's side of the demo's walkthrough: creates the session, prints "PIN: " and the PIN,
/// answers the agent by SessionHost's rules until the agent ends the session, then checks that
/// everything the agent's steps should have brought did arrive.
class DeviceScript {
public:
    /// The line that chat lines from the agent are answered with.
    static constexpr const char* chatReply = "Hello from the device";

    DeviceScript(Console& console, SessionEvents& events, std::shared_ptr<QuorvaneClient> client, SessionHost& host)
        : console_(console), events_(events), client_(std::move(client)), host_(host) {}

    /// True when the session went as the walkthrough says.
    bool run();

private:
    bool check(bool ok, const std::string& what);

    Console& console_;
    SessionEvents& events_;
    const std::shared_ptr<QuorvaneClient> client_;
    SessionHost& host_;
};

}  // namespace quorvane::session
