// Answers of the REST service, through the whole path of a completed request: the diagnostic
// lines and the decoding into each record. Any bytes must print in time linear in their length
// and decode to a record or fail with DecodingError, never crash or throw anything else.
//
// Long bodies without long inputs: when the input holds a zero byte, the byte after it is
// repeated 1024 times the value of the next one (up to 255 KiB), so that a short input such as
// {"token":"\0k\xC8 stands for a token of 200 KiB.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rest/CompletionLines.hpp"
#include "rest/ConnectionInformation.hpp"
#include "rest/DecodingError.hpp"
#include "rest/JsonFields.hpp"
#include "rest/QuorvaneSession.hpp"

namespace {

std::string expanded(std::string input) {
    auto zero = input.find('\0');
    if (zero == std::string::npos || zero + 2 >= input.size()) return input;
    std::string run(static_cast<std::uint8_t>(input[zero + 2]) * std::size_t(1024), input[zero + 1]);
    return input.substr(0, zero) + run + input.substr(zero + 3);
}

template <class Record>
void decode(const nlohmann::json& value) {
    try {
        Record::fromJson(value).toJson().dump();
    } catch (const quorvane::DecodingError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvane::HttpResponse response;
    response.statusCode = 200;
    response.body = expanded(std::string(reinterpret_cast<const char*>(data), size));
    quorvane::completionLines("GET", "https://127.0.0.1/connection", response);
    try {
        auto value = quorvane::json::parse(*response.body);
        decode<quorvane::QuorvaneSession>(value);
        decode<quorvane::QuorvaneSessions>(value);
        decode<quorvane::ConnectionInformation>(value);
    } catch (const quorvane::DecodingError&) {
    }
    return 0;
}
