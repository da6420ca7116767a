#include "rest/IceServer.hpp"

#include "rest/JsonFields.hpp"

namespace quorvane {

IceServer IceServer::fromJson(const nlohmann::json& value, const std::string& path) {
    json::requireObject(value, path);
    IceServer server;
    server.credential = json::optionalString(value, "credential", path);
    server.username = json::optionalString(value, "username", path);
    if (const auto* urls = json::optional(value, "urls")) {
        server.urls = json::decodeList<std::string>(*urls, json::childPath(path, "urls"), json::asString);
    }
    return server;
}

nlohmann::ordered_json IceServer::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    if (credential) object["credential"] = *credential;
    if (username) object["username"] = *username;
    if (urls) object["urls"] = *urls;
    return object;
}

}  // namespace quorvane
