#include "rest/HttpSession.hpp"
#include "util/OpenSsl.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include <curl/curl.h>

namespace quorvane {

namespace {

constexpr int maximumRedirects = 10;

using SteadyClock = std::chrono::steady_clock;

/// Counters that change whenever a transfer moves: the connection and its TLS session made,
/// request and answer bytes sent or received.
using Progress = std::array<curl_off_t, 6>;

Progress progressOf(CURL* easy) {
    curl_off_t connected = 0, secured = 0, sent = 0, received = 0;
    long requestBytes = 0, headerBytes = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &secured);
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestBytes);
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headerBytes);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    return {connected, secured, requestBytes, sent, headerBytes, received};
}

/// Scheme, host and port of a URL; empty when it cannot be parsed.
std::string origin(const std::string& url) {
    CURLU* handle = curl_url();
    std::string result;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(handle, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            result = std::string(scheme) + "://" + host + ":" + port;
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(handle);
    return result;
}

}  // namespace

struct HttpSession::Transfer {
    HttpRequest request;
    Completion completion;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string received;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string failure;  // why the session stopped the transfer itself; replaces curl's text
    int redirects = 0;
    Progress progress{};
    SteadyClock::time_point lastProgress;

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }

    /// curl's write callback: collects the answer body up to maximumBodySize.
    static size_t receive(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        size_t length = size * count;
        if (length > maximumBodySize - transfer->received.size()) {
            std::string().swap(transfer->received);
            transfer->failure =
                "The answer body is larger than the limit of " + std::to_string(maximumBodySize) + " bytes";
            return 0;  // anything but `length` stops the transfer
        }
        transfer->received.append(data, length);
        return length;
    }
};

HttpSession& HttpSession::shared() {
    static HttpSession session;
    return session;
}

HttpSession::HttpSession() {
    initializeOpenSsl();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    thread_ = std::thread([this] { run(); });
}

HttpSession::~HttpSession() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(static_cast<CURLM*>(multi_));
    thread_.join();
    for (auto& transfer : active_) curl_multi_remove_handle(static_cast<CURLM*>(multi_), transfer->easy);
    active_.clear();
    incoming_.clear();
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void HttpSession::start(HttpRequest request, Completion completion) {
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    {
        std::lock_guard lock(mutex_);
        incoming_.push_back(std::move(transfer));
    }
    curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void HttpSession::run() {
    auto* multi = static_cast<CURLM*>(multi_);
    for (;;) {
        std::vector<std::unique_ptr<Transfer>> arrived;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            arrived.swap(incoming_);
        }
        for (auto& transfer : arrived) begin(std::move(transfer));

        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            auto found = std::find_if(active_.begin(), active_.end(),
                                      [&](const auto& t) { return t->easy == message->easy_handle; });
            if (found == active_.end()) continue;
            int result = message->data.result;  // read before the handle is removed
            finish(found->get(), result);
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(abortStalled()), nullptr);
    }
}

long HttpSession::abortStalled() {
    // Real time: the transfers run on real sockets.
    auto now = SteadyClock::now();
    double wait = 1;
    std::vector<Transfer*> stalled;
    for (auto& transfer : active_) {
        auto progress = progressOf(transfer->easy);
        if (progress != transfer->progress) {
            transfer->progress = progress;
            transfer->lastProgress = now;
        }
        double left = transfer->request.timeoutSeconds - std::chrono::duration<double>(now - transfer->lastProgress).count();
        if (left <= 0) {
            stalled.push_back(transfer.get());
        } else {
            wait = std::min(wait, left);
        }
    }
    for (auto* transfer : stalled) {
        transfer->failure = "The request timed out: nothing was sent or received for " +
                            std::to_string(std::llround(transfer->request.timeoutSeconds * 1000)) + " milliseconds";
        finish(transfer, CURLE_OPERATION_TIMEDOUT);
    }
    return static_cast<long>(std::ceil(wait * 1000));
}

void HttpSession::begin(std::unique_ptr<Transfer> transfer) {
    const auto& request = transfer->request;
    CURL* easy = curl_easy_init();
    transfer->easy = easy;
    transfer->received.clear();
    transfer->errorBuffer[0] = '\0';
    transfer->progress = {};
    transfer->lastProgress = SteadyClock::now();
    curl_slist_free_all(transfer->headers);
    transfer->headers = nullptr;
    for (const auto& header : request.headers) transfer->headers = curl_slist_append(transfer->headers, header.c_str());
    // Send no header the caller did not ask for.
    transfer->headers = curl_slist_append(transfer->headers, "Expect:");
    if (!request.body) transfer->headers = curl_slist_append(transfer->headers, "Content-Type:");

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    if (request.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body ? request.body->size() : 0));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body ? request.body->data() : "");
        if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
    if (!request.caFile.empty()) {
        // Instead of the system store, not beside it: the default folder of CAs goes too.
        curl_easy_setopt(easy, CURLOPT_CAINFO, request.caFile.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }

    curl_multi_add_handle(static_cast<CURLM*>(multi_), easy);
    active_.push_back(std::move(transfer));
}

void HttpSession::finish(Transfer* transfer, int result) {
    curl_multi_remove_handle(static_cast<CURLM*>(multi_), transfer->easy);
    auto found = std::find_if(active_.begin(), active_.end(), [&](const auto& t) { return t.get() == transfer; });
    std::unique_ptr<Transfer> done = std::move(*found);
    active_.erase(found);

    HttpResponse response;
    if (result != CURLE_OK) {
        response.error = !transfer->failure.empty() ? transfer->failure
                         : transfer->errorBuffer[0] ? std::string(transfer->errorBuffer)
                                                    : std::string(curl_easy_strerror(static_cast<CURLcode>(result)));
        if (!transfer->received.empty()) response.body = std::move(transfer->received);
    } else {
        long status = 0;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        curl_easy_getinfo(transfer->easy, CURLINFO_REDIRECT_URL, &location);
        if (status >= 300 && status < 400 && location && done->redirects < maximumRedirects &&
            origin(location) == origin(done->request.url) && !origin(location).empty()) {
            done->request.url = location;
            if (status == 303 || ((status == 301 || status == 302) && done->request.method == "POST")) {
                done->request.method = "GET";
                done->request.body.reset();
                std::erase_if(done->request.headers,
                              [](const std::string& header) { return header.rfind("Content-Type:", 0) == 0; });
            }
            ++done->redirects;
            curl_easy_cleanup(done->easy);
            done->easy = nullptr;
            begin(std::move(done));
            return;
        }
        response.statusCode = status;
        response.body = std::move(transfer->received);
    }
    try {
        done->completion(std::move(response));
    } catch (...) {
        // A completion's failure has nowhere to go on this thread.
    }
}

}  // namespace quorvane
