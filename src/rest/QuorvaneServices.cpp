#include "rest/QuorvaneServices.hpp"

#include <iostream>
#include <mutex>

#include <curl/curl.h>

#include "model/PlatformError.hpp"
#include "quorvane/Errors.hpp"
#include "rest/CompletionLines.hpp"
#include "rest/HttpSession.hpp"
#include "rest/JsonFields.hpp"

namespace quorvane {

namespace {

PlatformError cannotCreateUrl() { return PlatformError("", 0, "Cannot create URL"); }

/// One path segment with every byte outside A-Z, a-z, 0-9, "-", "_" and "~" percent-encoded, so
/// that it can neither leave its segment nor add a query; none for an empty text.
std::optional<std::string> pathSegment(const std::string& text) {
    if (text.empty()) return std::nullopt;
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xF];
        }
    }
    return encoded;
}

bool isValidUrl(const std::string& url) {
    CURLU* handle = curl_url();
    bool valid = curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(handle);
    return valid;
}

/// The diagnostic lines of one completed request, written in one piece.
void printCompletion(const std::string& method, const std::string& url, const HttpResponse& response) {
    static std::mutex outputMutex;
    auto text = completionLines(method, url, response);
    std::lock_guard lock(outputMutex);
    std::cout << text << std::flush;
}

bool isSafeHeaderValue(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

QuorvaneServices::QuorvaneServices(std::string apiUrlBase, std::string apiKey,
                                   std::shared_ptr<NetworkStatus> networkStatus, RestTransportOptions options)
    : apiUrlBase_(std::move(apiUrlBase)),
      apiKey_(std::move(apiKey)),
      networkStatus_(std::move(networkStatus)),
      options_(std::move(options)) {}

Promise<QuorvaneSession> QuorvaneServices::createSupportSession() {
    return networkRequest<QuorvaneSession>([](const nlohmann::json& v) { return QuorvaneSession::fromJson(v); },
                                           "/sessions", "Create Support Session", std::nullopt, "POST");
}

Promise<QuorvaneSession> QuorvaneServices::getSupportSession(const std::string& pin) {
    auto segment = pathSegment(pin);
    return networkRequest<QuorvaneSession>([](const nlohmann::json& v) { return QuorvaneSession::fromJson(v); },
                                           segment ? std::optional("/sessions/" + *segment) : std::nullopt,
                                           "Get Support Session", "Incorrect PIN entered");
}

Promise<QuorvaneSessions> QuorvaneServices::getAllSupportSessions() {
    return networkRequest<QuorvaneSessions>([](const nlohmann::json& v) { return QuorvaneSessions::fromJson(v); },
                                            "/sessions", "Get All Support Sessions", std::nullopt);
}

Promise<ConnectionInformation> QuorvaneServices::getConnectionInformation() {
    return networkRequest<ConnectionInformation>(
        [](const nlohmann::json& v) { return ConnectionInformation::fromJson(v); }, "/connection",
        "Get Connection Information", std::nullopt);
}

Promise<void> QuorvaneServices::postLogs(nlohmann::json logs, std::string sessionId, WebRtcClientRole role) {
    auto segment = pathSegment(sessionId);
    std::optional<std::string> path;
    if (segment) path = "/logs/" + *segment + "/" + std::string(rawValue(role));
    return networkRequest<bool>([](const nlohmann::json& v) { return json::asBool(v, ""); }, path, "Post Logs",
                                std::nullopt, "POST", &logs)
        .map([](bool) {}, DispatchQueue::main());
}

template <class T>
Promise<T> QuorvaneServices::networkRequest(Decode<T> decode, const std::optional<std::string>& path,
                                            const std::string& operationTitle,
                                            std::optional<std::string> debugDescription, const std::string& method,
                                            const nlohmann::json* parameters) {
    // A path is missing when an id that goes into it cannot form a path segment.
    if (!path || !isValidUrl(apiUrlBase_ + *path)) return Promise<T>::error(std::make_exception_ptr(cannotCreateUrl()));
    std::string failedTitle = operationTitle + " Failed";
    if (!isSafeHeaderValue(apiKey_)) {
        return Promise<T>::error(std::make_exception_ptr(
            QuorvaneError::networkRequestFailed(failedTitle, "The API key contains a line break")));
    }

    HttpRequest request;
    request.url = apiUrlBase_ + *path;
    request.method = method;
    request.headers.push_back("x-api-key: " + apiKey_);
    request.timeoutSeconds = options_.timeoutSeconds;
    request.caFile = options_.caFile;
    if (parameters) {
        request.headers.push_back("Content-Type: application/json");
        try {
            // Text that is not UTF-8 is replaced, as the console logger does: it never stops an upload.
            request.body = parameters->dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        } catch (...) {
            return Promise<T>::error(std::current_exception());
        }
    }

    auto pending = Promise<T>::pending();
    // Only the first console line reads the client, and through a weak reference: the request
    // completes whether or not the client is still there.
    auto completion = [weakSelf = weak_from_this(), method, path = *path, failedTitle,
                       failureMessage = debugDescription.value_or("Failed to perform operation"), decode,
                       resolver = pending.resolver](HttpResponse response) {
        auto self = weakSelf.lock();
        printCompletion(method, (self ? self->apiUrlBase_ : std::string()) + path, response);
        self.reset();
        if (response.error) {
            resolver.reject(QuorvaneError::networkRequestFailed(failedTitle, *response.error));
        } else if (response.statusCode && *response.statusCode >= 200 && *response.statusCode <= 299 && response.body) {
            try {
                resolver.fulfill(decode(json::parse(*response.body)));
            } catch (...) {
                resolver.reject(std::current_exception());
            }
        } else {
            resolver.reject(QuorvaneError::networkRequestFailed(failedTitle, failureMessage));
        }
    };
    auto start = [request = std::move(request), completion = std::move(completion)] {
        HttpSession::shared().start(request, completion);
    };
    if (networkStatus_) {
        networkStatus_->waitForInternet().done(start);
    } else {
        start();
    }
    return pending.promise;
}

}  // namespace quorvane
