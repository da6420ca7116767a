#include "rest/QuorvaneSession.hpp"

#include "rest/JsonFields.hpp"

namespace quorvane {

QuorvaneSession QuorvaneSession::fromJson(const nlohmann::json& value, const std::string& path) {
    json::requireObject(value, path);
    QuorvaneSession session;
    session.topic = json::requiredString(value, "topic", path);
    session.pin = json::requiredString(value, "pin", path);
    session.sessionId = json::requiredString(value, "sessionId", path);
    session.token = json::requiredString(value, "token", path);
    session.role = json::requiredString(value, "role", path);
    session.offerClient = json::requiredString(value, "offerClient", path);
    session.answerClient = json::requiredString(value, "answerClient", path);
    session.ttl = json::requiredInt64(value, "ttl", path);
    return session;
}

nlohmann::ordered_json QuorvaneSession::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["topic"] = topic;
    object["pin"] = pin;
    object["sessionId"] = sessionId;
    object["token"] = token;
    object["role"] = role;
    object["offerClient"] = offerClient;
    object["answerClient"] = answerClient;
    object["ttl"] = ttl;
    return object;
}

QuorvaneSessions QuorvaneSessions::fromJson(const nlohmann::json& value, const std::string& path) {
    json::requireObject(value, path);
    QuorvaneSessions result;
    result.sessions = json::decodeList<QuorvaneSession>(
        json::required(value, "sessions", path), json::childPath(path, "sessions"),
        [](const nlohmann::json& element, const std::string& elementPath) {
            return QuorvaneSession::fromJson(element, elementPath);
        });
    return result;
}

nlohmann::ordered_json QuorvaneSessions::toJson() const {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& session : sessions) list.push_back(session.toJson());
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["sessions"] = std::move(list);
    return object;
}

}  // namespace quorvane
