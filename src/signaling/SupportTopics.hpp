#pragma once

#include <string>

namespace quorvane {

/// The three MQTT topics of one session as one side uses them: the shared announce topic (the
/// topic root followed by "/announce"), the peer's inbox it publishes to, and its own inbox.
struct SupportTopics {
    SupportTopics(const std::string& topicRoot, std::string publishTopic, std::string subscribeTopic)
        : announceTopic(topicRoot + "/announce"),
          publishTopic(std::move(publishTopic)),
          subscribeTopic(std::move(subscribeTopic)) {}

    const std::string announceTopic;
    const std::string publishTopic;
    const std::string subscribeTopic;
};

}  // namespace quorvane
