#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quorvane::testing {

/// A mosquitto broker for tests, tools and benchmarks: one TLS listener on a free port of
/// 127.0.0.1, a throw-away CA and a server certificate for 127.0.0.1 and localhost made with
/// openssl, one user with a password, no anonymous access. Everything lives in a temporary folder
/// that goes with the object. The broker's own log (stderr) is kept there too. The broker ends
/// with the thread that started it, whatever ends that (start it from a thread that outlives the
/// object, the main thread for instance).
class MosquittoBroker {
public:
    /// Makes the files and starts the broker; returns once it accepts connections. Throws
    /// std::runtime_error when a step fails (with the broker's log when it did not come up).
    explicit MosquittoBroker(std::string username = "quorvane", std::string password = "session-token");
    /// Stops the broker and removes its folder.
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    /// Starts the broker again on the same port after stop(); returns once it accepts.
    void start();
    /// Stops the broker by its pid and waits for it to exit; its clients lose their connection.
    void stop();
    bool isRunning() const { return pid_ > 0; }
    /// The broker's process while it runs, else -1.
    pid_t pid() const { return pid_; }

    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    /// The CA certificate that signed the broker's certificate (PEM file).
    const std::string& caFile() const { return caFile_; }
    /// The broker's own certificate (for 127.0.0.1 and localhost) and its key (PEM files).
    const std::string& certificateFile() const { return certificateFile_; }
    const std::string& keyFile() const { return keyFile_; }
    const std::string& username() const { return username_; }
    const std::string& password() const { return password_; }
    /// What the broker has written to its stderr so far.
    std::string log() const;

private:
    void makeCertificates();
    void writeConfiguration();
    void waitUntilAccepting();

    const std::string host_ = "127.0.0.1";
    const std::string username_;
    const std::string password_;
    std::string folder_;
    std::string caFile_;
    std::string certificateFile_;
    std::string keyFile_;
    std::string configFile_;
    std::string logFile_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace quorvane::testing
