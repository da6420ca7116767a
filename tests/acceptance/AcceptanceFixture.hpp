#pragma once

// Shared set-up of the acceptance tests: for each test its own broker and mock REST service on
// free ports of 127.0.0.1, and the two sides of a session as two quorvane_session_local processes.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MockRestService.hpp"
#include "PeerProcess.hpp"
#include "support/MosquittoBroker.hpp"

namespace quorvane::testing {

class AcceptanceTest : public ::testing::Test {
protected:
    static constexpr const char* apiKey = "acceptance-key";
    static constexpr const char* sessionToken = "acceptance-token";

    /// The service's options: the API key, the broker's port, the token the broker accepts.
    mock::MockRestOptions serviceOptions() const;
    /// Starts the service; by default with serviceOptions().
    void startService(std::optional<mock::MockRestOptions> options = std::nullopt);

    /// A side's command line, with `timeout` as its time-out.
    std::vector<std::string> arguments(const std::string& role, const std::string& pin = {}) const;
    /// Starts the device, with `extra` after its arguments, and reads its PIN.
    void startDevice(const std::vector<std::string>& extra = {});
    /// Starts the device (with `deviceExtra`) and the agent and waits until both are connected.
    void startBoth(const std::vector<std::string>& deviceExtra = {});

    /// Waits for a line of `peer` matching `pattern` (from line `from` on); fails the test with
    /// the peer's output when none comes. Returns the match and its groups.
    std::vector<std::string> expectLine(PeerProcess& peer, const std::string& pattern, double seconds = 30,
                                        std::size_t from = 0);

    /// The body of the device's log upload; fails the test when none arrives.
    nlohmann::json deviceLogUpload();

    /// Changes to the device's environment (startDevice).
    PeerProcess::Environment deviceEnvironment;
    MosquittoBroker broker{apiKey, sessionToken};
    std::unique_ptr<mock::MockRestService> service;
    std::string url;
    std::string timeout = "10";
    std::string pin;
    std::unique_ptr<PeerProcess> device;
    std::unique_ptr<PeerProcess> agent;
};

/// `text` with the characters that regular expressions treat specially escaped.
std::string literal(const std::string& text);

}  // namespace quorvane::testing
