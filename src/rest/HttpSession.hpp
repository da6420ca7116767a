#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {

/// One HTTP request as handed to the session.
struct HttpRequest {
    std::string url;
    std::string method = "GET";
    std::vector<std::string> headers;  ///< "Name: value" lines
    std::optional<std::string> body;
    double timeoutSeconds = 60;  ///< the longest time without a byte sent or received
    std::string caFile;          ///< tests only: trust this CA file instead of the system store
};

/// How a request ended: a transport error, or an HTTP response with its body.
struct HttpResponse {
    std::optional<long> statusCode;   ///< present when an HTTP response came
    std::optional<std::string> body;  ///< present for every HTTP response, and when a failed transfer got bytes
    std::optional<std::string> error; ///< the transport's description of a failure
};

/// The process's shared HTTP client: runs every transfer on one thread of its own, many at a
/// time, until it completes, whoever started it. Redirects are followed only within the same
/// scheme, host and port, so that request headers never reach another host. A transfer fails
/// when nothing moved for the request's time-out, or when its answer body grows past
/// maximumBodySize (the body collected so far is dropped).
class HttpSession {
public:
    using Completion = std::function<void(HttpResponse)>;

    static constexpr std::size_t maximumBodySize = 16 * 1024 * 1024;

    static HttpSession& shared();

    /// Starts `request`; `completion` runs once, on the session's thread, when it has ended.
    void start(HttpRequest request, Completion completion);

    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

private:
    struct Transfer;
    HttpSession();
    void run();
    void begin(std::unique_ptr<Transfer> transfer);
    void finish(Transfer* transfer, int result);
    /// Fails the transfers that have not moved for their time-out; returns the milliseconds until
    /// the next one could (at most a second).
    long abortStalled();

    void* multi_;  // CURLM*
    std::mutex mutex_;  // guards incoming_ and stopping_
    std::vector<std::unique_ptr<Transfer>> incoming_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<Transfer>> active_;  // session thread only
    std::thread thread_;
};

}  // namespace quorvane
