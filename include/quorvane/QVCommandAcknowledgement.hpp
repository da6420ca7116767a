#pragma once

#include <string>

namespace quorvane {

/// The acknowledgement of a command, named by the command's id.
struct QVCommandAcknowledgement {
    explicit QVCommandAcknowledgement(std::string acknowledging) : acknowledging(std::move(acknowledging)) {}

    std::string acknowledging;
};

}  // namespace quorvane
