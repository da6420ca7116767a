#pragma once

#include <string>

namespace quorvane {

/// A fresh random (version 4) UUID in its 36-character text form, lower case.
std::string makeUuid();

}  // namespace quorvane
