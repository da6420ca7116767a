#include "log/LogEntry.hpp"

#include "util/Utf8.hpp"

namespace quorvane {

namespace {

// The allocator's header of each block, as glibc keeps it on a 64-bit system (rounded up).
constexpr std::size_t allocationOverhead = 16;
// A node of a map beside its pair: colour and three links.
constexpr std::size_t mapNodeLinks = 4 * sizeof(void*);

std::size_t heapBytesOf(const std::string& text) {
    // A short text lives in the string object itself.
    return text.capacity() > std::string().capacity() ? text.capacity() + 1 + allocationOverhead : 0;
}

std::size_t heapBytesOf(const nlohmann::json& value) {
    using json = nlohmann::json;
    switch (value.type()) {
    case json::value_t::object: {
        std::size_t bytes = sizeof(json::object_t) + allocationOverhead;
        for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
            bytes += mapNodeLinks + sizeof(json::object_t::value_type) + allocationOverhead + heapBytesOf(key) +
                     heapBytesOf(member);
        }
        return bytes;
    }
    case json::value_t::array: {
        const auto& items = value.get_ref<const json::array_t&>();
        std::size_t bytes = sizeof(json::array_t) + allocationOverhead;
        if (items.capacity() > 0) bytes += items.capacity() * sizeof(json) + allocationOverhead;
        for (const auto& item : items) bytes += heapBytesOf(item);
        return bytes;
    }
    case json::value_t::string:
        return sizeof(json::string_t) + allocationOverhead + heapBytesOf(value.get_ref<const json::string_t&>());
    case json::value_t::binary: {
        const auto& bytes = value.get_binary();
        return sizeof(json::binary_t) + allocationOverhead + (bytes.capacity() > 0 ? bytes.capacity() + allocationOverhead : 0);
    }
    default:  // numbers, booleans and null live in the value itself
        return 0;
    }
}

}  // namespace

void LogEntry::setLogMetric(const std::string& name, nlohmann::json value) {
    data = LogData::object();
    (*data)[name] = std::move(value);
}

void LogEntry::setLogDataChannelMessageInfo(const std::string& messageId, std::int64_t messageLength) {
    data = LogData{{"messageId", messageId}, {"messageLength", messageLength}};
}

nlohmann::json LogEntry::getMetaData() const {
    nlohmann::json meta{
        {"sessionId", validUtf8(sessionID)},
        {"type", rawValue(type)},
        {"level", rawValue(level)},
        {"sdk", rawValue(sdk)},
        {"package", validUtf8(pkg)},
        {"class", validUtf8(klass)},
        {"method", validUtf8(method)},
        {"timestamp", timeStamp},
        {"message", validUtf8(message)},
        {"pin", validUtf8(pin)},
    };
    if (role) meta["role"] = rawValue(*role);
    if (data) meta["data"] = withValidUtf8(*data);
    return meta;
}

std::size_t LogEntry::heapBytes() const {
    std::size_t bytes = 0;
    for (const auto* text : {&sessionID, &pin, &pkg, &klass, &method, &message}) bytes += heapBytesOf(*text);
    if (data) bytes += heapBytesOf(*data);
    return bytes;
}

}  // namespace quorvane
