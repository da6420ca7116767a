#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::session {

/// Why `folder` cannot keep received files (missing, not a folder, not writable); empty when it can.
std::string saveFolderProblem(const std::string& folder);

/// Writes `bytes` to a new file in `folder` under `name`, the name the peer sent, made a plain,
/// visible file name of well-formed UTF-8 first: each control character (C0 with NUL, DEL, C1),
/// bidirectional control (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069), byte that is not
/// part of well-formed UTF-8 and "/" becomes "_", and so does a leading "." (nothing hidden, no
/// "." or ".."); an empty name becomes "received.bin". When that name is taken, "-1", "-2"... up
/// to "-999" is added before its extension (from its last dot, when that leaves at most 15 bytes
/// after it): no file is ever replaced. A name longer than the folder's file system allows is cut
/// before its extension and number, where a character starts, keeping at least its first one. A
/// name the folder cannot keep otherwise (its path too long) is given "received.bin" and its
/// numbered forms instead. Returns the new file's path; throws std::runtime_error saying why it
/// could not be written.
std::string saveNewFile(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& bytes);

}  // namespace quorvane::session
