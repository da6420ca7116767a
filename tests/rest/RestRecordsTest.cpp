#include <gtest/gtest.h>

#include "rest/ConnectionInformation.hpp"
#include "rest/DecodingError.hpp"
#include "rest/JsonFields.hpp"
#include "rest/QuorvaneSession.hpp"

using namespace quorvane;
using Json = nlohmann::json;

namespace {

Json sessionJson() {
    return {{"topic", "t/1"},          {"pin", "123456"},       {"sessionId", "s1"}, {"token", "secret"},
            {"role", "offer"},         {"offerClient", "o1"},   {"answerClient", "a1"}, {"ttl", 3600}};
}

template <class Record>
DecodingError::Kind failure(const Json& value, std::string* path = nullptr) {
    try {
        Record::fromJson(value);
    } catch (const DecodingError& error) {
        if (path) *path = error.codingPath();
        return error.kind();
    }
    ADD_FAILURE() << "decoded " << value.dump();
    return DecodingError::Kind::dataCorrupted;
}

}  // namespace

TEST(QuorvaneSessionRecord, DecodesEveryFieldAndEncodesExactlyTheEightKeysInOrder) {
    auto value = sessionJson();
    value["extra"] = "ignored";
    auto session = QuorvaneSession::fromJson(value);
    EXPECT_EQ(session.pin, "123456");
    EXPECT_EQ(session.ttl, 3600);
    EXPECT_EQ(session.toJson().dump(),
              R"({"topic":"t/1","pin":"123456","sessionId":"s1","token":"secret","role":"offer",)"
              R"("offerClient":"o1","answerClient":"a1","ttl":3600})");
}

TEST(QuorvaneSessionRecord, RequiredFieldsMustBePresentNonNullAndOfTheirType) {
    auto missing = sessionJson();
    missing.erase("ttl");
    EXPECT_EQ(failure<QuorvaneSession>(missing), DecodingError::Kind::keyNotFound);
    auto null = sessionJson();
    null["ttl"] = nullptr;
    EXPECT_EQ(failure<QuorvaneSession>(null), DecodingError::Kind::valueNotFound);
    auto numericPin = sessionJson();
    numericPin["pin"] = 123456;
    EXPECT_EQ(failure<QuorvaneSession>(numericPin), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(Json::array()), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(Json()), DecodingError::Kind::valueNotFound);
}

TEST(QuorvaneSessionRecord, IntegersAreReadStrictly) {
    auto withTtl = [](Json ttl) {
        auto value = sessionJson();
        value["ttl"] = ttl;
        return value;
    };
    EXPECT_EQ(QuorvaneSession::fromJson(withTtl(-5)).ttl, -5);
    EXPECT_EQ(QuorvaneSession::fromJson(withTtl(INT64_MAX)).ttl, INT64_MAX);
    EXPECT_EQ(QuorvaneSession::fromJson(withTtl(INT64_MIN)).ttl, INT64_MIN);
    // Whole numbers written as "5.0" become integers when the body is parsed; a float is never one.
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(5.0)), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(5.5)), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(std::uint64_t(INT64_MAX) + 1)), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(9223372036854775808.0)), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(Json::parse("99999999999999999999"))), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl("5")), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(failure<QuorvaneSession>(withTtl(true)), DecodingError::Kind::typeMismatch);
}

TEST(QuorvaneSessionsRecord, OneBadElementFailsTheWholeListAndNamesIt) {
    EXPECT_TRUE(QuorvaneSessions::fromJson({{"sessions", Json::array()}}).sessions.empty());
    auto bad = sessionJson();
    bad.erase("token");
    std::string path;
    EXPECT_EQ(failure<QuorvaneSessions>({{"sessions", {sessionJson(), bad}}}, &path), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(path, "sessions[1].token");
    EXPECT_EQ(failure<QuorvaneSessions>({{"sessions", sessionJson()}}), DecodingError::Kind::typeMismatch);
}

TEST(ConnectionInformationRecord, PortsAndIceServerFieldsAreOptionalButTyped) {
    auto info = ConnectionInformation::fromJson(
        {{"mqtt", {{"server", "broker"}, {"ports", Json::object()}}}, {"iceServers", Json::array()}});
    EXPECT_EQ(info.mqtt.server, "broker");
    EXPECT_EQ(info.mqtt.ports, MQTTPortSpecification{});
    EXPECT_TRUE(info.iceServers.empty());

    auto full = ConnectionInformation::fromJson(Json::parse(R"({
        "mqtt": {"server": "b", "ports": {"ssl": 8883, "wss": null, "ws": 80, "other": "x"}},
        "iceServers": [{}, {"urls": ["turn:h"], "username": "u", "credential": "c"}]})"));
    EXPECT_EQ(full.mqtt.ports.ssl, 8883);
    EXPECT_FALSE(full.mqtt.ports.wss.has_value());
    EXPECT_EQ(full.mqtt.ports.ws, 80);
    EXPECT_EQ(full.iceServers[0], IceServer{});
    EXPECT_EQ(full.iceServers[1].urls, std::vector<std::string>{"turn:h"});
    // Absent optionals are left out, not written as null.
    EXPECT_EQ(full.toJson().dump(),
              R"({"mqtt":{"server":"b","ports":{"ws":80,"ssl":8883}},)"
              R"("iceServers":[{},{"credential":"c","username":"u","urls":["turn:h"]}]})");
}

TEST(ConnectionInformationRecord, MissingListsAndWronglyTypedOptionalsFail) {
    std::string path;
    EXPECT_EQ(failure<ConnectionInformation>({{"mqtt", {{"server", "b"}, {"ports", Json::object()}}}}, &path),
              DecodingError::Kind::keyNotFound);
    EXPECT_EQ(path, "iceServers");
    EXPECT_EQ(failure<ConnectionInformation>(
                  {{"mqtt", {{"server", "b"}, {"ports", {{"ssl", "8883"}}}}}, {"iceServers", Json::array()}}, &path),
              DecodingError::Kind::typeMismatch);
    EXPECT_EQ(path, "mqtt.ports.ssl");
    EXPECT_EQ(failure<ConnectionInformation>(
                  {{"mqtt", {{"server", "b"}, {"ports", Json::object()}}}, {"iceServers", {{{"urls", {"a", 1}}}}}},
                  &path),
              DecodingError::Kind::typeMismatch);
    EXPECT_EQ(path, "iceServers[0].urls[1]");
    EXPECT_EQ(failure<ConnectionInformation>({{"mqtt", nullptr}, {"iceServers", Json::array()}}),
              DecodingError::Kind::valueNotFound);
}

TEST(ResponseBody, TextThatIsNotJsonIsReportedAsCorruptedData) {
    for (const char* body : {"", "{\"topic\": \"unterminated", "44E888", "[1e999]"}) {
        try {
            quorvane::json::parse(body);
            ADD_FAILURE() << body;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << body;
        }
    }
}
