#pragma once

#include "quorvane/QVMessage.hpp"

namespace quorvane {

/// A message the peer answers, possibly in several parts.
class QVQuery : public QVMessageFields {
public:
    /// A query to send (id 0).
    QVQuery(std::uint16_t category, QVTaggedData data) : QVQuery(0, category, std::move(data)) {}
    QVQuery(std::uint16_t id, std::uint16_t category, QVTaggedData data)
        : QVMessageFields(id, category, std::move(data)) {}
};

}  // namespace quorvane
