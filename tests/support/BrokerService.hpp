#pragma once

// The mock REST service set up for sessions that meet through a local broker.

#include "MockRestService.hpp"
#include "support/MosquittoBroker.hpp"

namespace quorvane::testing {

/// Options of a mock service whose sessions meet through `broker`: the broker's user name is the
/// API key and its password every session's token.
inline mock::MockRestOptions serviceOptionsFor(const MosquittoBroker& broker) {
    mock::MockRestOptions options;
    options.apiKey = broker.username();
    options.sessionToken = broker.password();
    options.mqttHost = broker.host();
    options.mqttSslPort = broker.port();
    return options;
}

}  // namespace quorvane::testing
