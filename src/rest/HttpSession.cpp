#include "rest/HttpSession.hpp"
#include "util/OpenSsl.hpp"

#include <algorithm>
#include <cmath>

#include <curl/curl.h>

namespace quorvane {

namespace {

constexpr int maximumRedirects = 10;

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
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
    int redirects = 0;

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
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
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
}

void HttpSession::begin(std::unique_ptr<Transfer> transfer) {
    const auto& request = transfer->request;
    CURL* easy = curl_easy_init();
    transfer->easy = easy;
    transfer->received.clear();
    transfer->errorBuffer[0] = '\0';
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
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::ceil(request.timeoutSeconds * 1000)));
    if (request.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body ? request.body->size() : 0));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body ? request.body->data() : "");
        if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer->received);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
    if (!request.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, request.caFile.c_str());

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
        response.error = transfer->errorBuffer[0] ? std::string(transfer->errorBuffer)
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
