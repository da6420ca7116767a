#pragma once

#include "quorvane/QVAcknowledgeOn.hpp"
#include "quorvane/QVMessage.hpp"

namespace quorvane {

/// A message the peer acknowledges, at once or once it has carried the command out.
class QVCommand : public QVMessageFields {
public:
    /// A command to send (id 0).
    QVCommand(std::uint16_t category, QVTaggedData data, QVAcknowledgeOn acknowledgeOn)
        : QVCommand(0, category, std::move(data), acknowledgeOn) {}
    QVCommand(std::uint16_t id, std::uint16_t category, QVTaggedData data, QVAcknowledgeOn acknowledgeOn)
        : QVMessageFields(id, category, std::move(data)), acknowledgeOn_(acknowledgeOn) {}

    QVAcknowledgeOn acknowledgeOn() const { return acknowledgeOn_; }
    void setAcknowledgeOn(QVAcknowledgeOn acknowledgeOn) { acknowledgeOn_ = acknowledgeOn; }

private:
    QVAcknowledgeOn acknowledgeOn_;
};

}  // namespace quorvane
