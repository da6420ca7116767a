// Bodies the REST service answers with: any bytes must decode to a record or fail with
// DecodingError, never crash or throw anything else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rest/ConnectionInformation.hpp"
#include "rest/DecodingError.hpp"
#include "rest/JsonFields.hpp"
#include "rest/QuorvaneSession.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    try {
        auto value = quorvane::json::parse(body);
        try {
            quorvane::QuorvaneSession::fromJson(value).toJson().dump();
        } catch (const quorvane::DecodingError&) {
        }
        try {
            quorvane::QuorvaneSessions::fromJson(value).toJson().dump();
        } catch (const quorvane::DecodingError&) {
        }
        try {
            quorvane::ConnectionInformation::fromJson(value).toJson().dump();
        } catch (const quorvane::DecodingError&) {
        }
    } catch (const quorvane::DecodingError&) {
    }
    return 0;
}
