#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::session {

/// Why `folder` cannot keep received files (missing, not a folder, not writable); empty when it can.
std::string saveFolderProblem(const std::string& folder);

/// Writes `bytes` to a new file in `folder` named `name`, or, when that name is taken, with "-1",
/// "-2"... added before its extension: no file is ever overwritten. Returns the new file's path;
/// throws std::runtime_error saying why it could not be written.
std::string saveNewFile(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& bytes);

}  // namespace quorvane::session
