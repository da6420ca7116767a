#pragma once

#include "quorvane/QVMessage.hpp"

namespace quorvane {

/// A message the peer receives without answering.
class QVNotification : public QVMessageFields {
public:
    /// A notification to send (id 0).
    QVNotification(std::uint16_t category, QVTaggedData data) : QVNotification(0, category, std::move(data)) {}
    QVNotification(std::uint16_t id, std::uint16_t category, QVTaggedData data)
        : QVMessageFields(id, category, std::move(data)) {}
};

}  // namespace quorvane
