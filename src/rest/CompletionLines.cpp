#include "rest/CompletionLines.hpp"

#include <cstdint>
#include <span>
#include <string_view>

#include "util/Utf8.hpp"

namespace quorvane {

namespace {

constexpr std::string_view tokenKey = "\"token\"";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::size_t skipSpaces(std::string_view text, std::size_t at) {
    while (at < text.size() && isSpace(text[at])) ++at;
    return at;
}

/// Where the string that opens at `at` ends (just past its closing quote), or npos when the text
/// ends first.
std::size_t stringEnd(std::string_view text, std::size_t at) {
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

/// `body` with the string value of every "token" key replaced by "***"; a value that the body
/// cuts off is masked to its end.
std::string maskTokens(std::string_view body) {
    std::string masked;
    masked.reserve(body.size());
    std::size_t copied = 0;
    std::size_t searchFrom = 0;
    while (true) {
        std::size_t key = body.find(tokenKey, searchFrom);
        if (key == std::string_view::npos) break;
        std::size_t colon = skipSpaces(body, key + tokenKey.size());
        std::size_t value = colon < body.size() && body[colon] == ':' ? skipSpaces(body, colon + 1) : body.size();
        if (value >= body.size() || body[value] != '"') {
            searchFrom = key + 1;
            continue;
        }
        std::size_t end = stringEnd(body, value);
        masked.append(body, copied, value - copied);
        masked += end == std::string_view::npos ? "\"***" : "\"***\"";
        if (end == std::string_view::npos) return masked;
        copied = searchFrom = end;
    }
    masked.append(body, copied);
    return masked;
}

/// `text` split at every line break, empty pieces dropped, the rest joined with line feeds.
std::string withoutBlankLines(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) {
            if (!result.empty()) result += '\n';
            result.append(text, start, end - start);
        }
        start = end + 1;
    }
    return result;
}

}  // namespace

std::string completionLines(const std::string& method, const std::string& url, const HttpResponse& response) {
    std::string text = method + " " + url + "\n";
    text += response.statusCode ? std::to_string(*response.statusCode) : std::string("No response status code");
    text += "\n";
    if (response.body) {
        std::span bytes(reinterpret_cast<const std::uint8_t*>(response.body->data()), response.body->size());
        if (isValidUtf8(bytes)) text += withoutBlankLines(maskTokens(*response.body)) + "\n";
    }
    return text;
}

}  // namespace quorvane
