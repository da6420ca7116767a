#pragma once

#include <stdexcept>

namespace quorvane {

/// The failure of what SignalClient gives up when it is reset, torn down or released: waiting
/// connects, sends and publishes.
class MQTTError : public std::runtime_error {
public:
    enum class Kind { resetting };

    static MQTTError resetting() { return MQTTError(Kind::resetting); }

    Kind kind() const { return kind_; }
    bool operator==(const MQTTError& other) const { return kind_ == other.kind_; }

private:
    explicit MQTTError(Kind kind) : std::runtime_error("MQTT client is resetting"), kind_(kind) {}
    Kind kind_;
};

}  // namespace quorvane
