#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::session {

/// Why `folder` cannot keep received files (missing, not a folder, not writable); empty when it can.
std::string saveFolderProblem(const std::string& folder);

/// Writes `bytes` to a new file in `folder` under `name`, the name the peer sent, made a plain
/// file name first: each NUL, other control character (C0, DEL, and C1 in UTF-8) and "/" becomes
/// "_", and so does a leading "." (nothing hidden, no "." or ".."); an empty name becomes
/// "received.bin". When that name is taken, "-1", "-2"... up to "-999" is added before its
/// extension (from its last dot, when that leaves at most 15 bytes after it): no file is ever
/// replaced. A name longer than the folder's file system allows is cut before its extension and
/// number, where a character starts. Returns the new file's path; throws std::runtime_error saying
/// why it could not be written.
std::string saveNewFile(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& bytes);

}  // namespace quorvane::session
