#pragma once

#include "messages_generated.h"
#include "quorvane/QVAcknowledgeOn.hpp"

namespace quorvane {

/// The application schema's value for when a command is acknowledged.
inline CommandAcknowledgementType fbAckOn(QVAcknowledgeOn acknowledgeOn) {
    return acknowledgeOn == QVAcknowledgeOn::finished ? CommandAcknowledgementType::finished
                                                      : CommandAcknowledgementType::received;
}

}  // namespace quorvane
