#include "rest/ConnectionInformation.hpp"

#include "rest/JsonFields.hpp"

namespace quorvane {

MQTTPortSpecification MQTTPortSpecification::fromJson(const nlohmann::json& value, const std::string& path) {
    json::requireObject(value, path);
    MQTTPortSpecification ports;
    ports.ws = json::optionalInt64(value, "ws", path);
    ports.wss = json::optionalInt64(value, "wss", path);
    ports.tcp = json::optionalInt64(value, "tcp", path);
    ports.ssl = json::optionalInt64(value, "ssl", path);
    return ports;
}

nlohmann::ordered_json MQTTPortSpecification::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    if (ws) object["ws"] = *ws;
    if (wss) object["wss"] = *wss;
    if (tcp) object["tcp"] = *tcp;
    if (ssl) object["ssl"] = *ssl;
    return object;
}

MQTTConnectionInformation MQTTConnectionInformation::fromJson(const nlohmann::json& value,
                                                              const std::string& path) {
    json::requireObject(value, path);
    MQTTConnectionInformation mqtt;
    mqtt.server = json::requiredString(value, "server", path);
    mqtt.ports = MQTTPortSpecification::fromJson(json::required(value, "ports", path), json::childPath(path, "ports"));
    return mqtt;
}

nlohmann::ordered_json MQTTConnectionInformation::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["server"] = server;
    object["ports"] = ports.toJson();
    return object;
}

ConnectionInformation ConnectionInformation::fromJson(const nlohmann::json& value, const std::string& path) {
    json::requireObject(value, path);
    ConnectionInformation info;
    info.mqtt = MQTTConnectionInformation::fromJson(json::required(value, "mqtt", path), json::childPath(path, "mqtt"));
    info.iceServers = json::decodeList<IceServer>(
        json::required(value, "iceServers", path), json::childPath(path, "iceServers"),
        [](const nlohmann::json& element, const std::string& elementPath) {
            return IceServer::fromJson(element, elementPath);
        });
    return info;
}

nlohmann::ordered_json ConnectionInformation::toJson() const {
    nlohmann::ordered_json servers = nlohmann::ordered_json::array();
    for (const auto& server : iceServers) servers.push_back(server.toJson());
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["mqtt"] = mqtt.toJson();
    object["iceServers"] = std::move(servers);
    return object;
}

}  // namespace quorvane
