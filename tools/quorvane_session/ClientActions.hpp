#pragma once

#include <memory>
#include <string>

#include "Console.hpp"
#include "Sender.hpp"
#include "SessionHost.hpp"
#include "ShellActions.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::session {

/// The shell's commands carried out through the client; each prints what it did and, once known,
/// how it ended.
class ClientActions : public ShellActions {
public:
    ClientActions(Console& console, std::shared_ptr<QuorvaneClient> client, SessionHost& host)
        : console_(console), client_(client), host_(host), sender_(console, client) {}

    /// Creates a new session as the device; prints "PIN: " and its PIN, or why it failed.
    Promise<void> beginSession();
    /// Joins the session with `pin` as the agent; prints the outcome.
    Promise<void> joinSession(const std::string& pin);
    /// Ends the session, telling the peer; prints the outcome.
    Promise<void> endSession();

    void chat(const std::string& text) override { (void)sender_.chat(text); }
    void notify(const std::string& text) override { (void)sender_.notify(text); }
    void command(const std::string& text, QVAcknowledgeOn acknowledgeOn, double timeout) override {
        (void)sender_.command(text, acknowledgeOn, timeout);
    }
    void query(const std::string& text, double timeout) override { (void)sender_.query(text, timeout); }
    void bytes(std::size_t size) override { (void)sender_.bytes(size); }
    void file(const std::string& name, std::vector<std::uint8_t> bytes, double timeout) override {
        (void)sender_.file(name, std::move(bytes), timeout);
    }
    void screen() override;
    void startSession() override { (void)beginSession(); }
    void join(const std::string& pin) override { (void)joinSession(pin); }
    void status() override;
    void disconnect() override { (void)endSession(); }

private:
    Console& console_;
    const std::shared_ptr<QuorvaneClient> client_;
    SessionHost& host_;
    Sender sender_;
};

}  // namespace quorvane::session
