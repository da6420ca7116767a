#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/QVTaggedData.hpp"

namespace quorvane::session {

/// The most bytes one message carries, its tag's and its data's together: the library's 65535
/// chunks of 15360 bytes, less the room it keeps for the message's own fields.
constexpr std::size_t messageLimit = std::size_t{65535} * 15360 - 256;

/// The tag of text payloads: the library's text tag.
const std::string& textTag();

/// Text as a payload with the text tag.
QVTaggedData textData(const std::string& text);
/// A payload for printing: quoted when it is short text with the text tag, else its size, checksum
/// and tag; its text escaped as printable() does, its tag as shown() does.
std::string describeData(const QVTaggedData& data);

/// Lower-case hexadecimal SHA-256 of `bytes`.
std::string sha256Hex(const std::vector<std::uint8_t>& bytes);

/// `size` bytes that look random, the same for the same `seed`.
std::vector<std::uint8_t> generatedBytes(std::size_t size, std::uint32_t seed);

/// A file as it travels: its bytes, with its name and checksum in the tag
/// ("application/octet-stream; name=NAME; sha256=HEX").
QVTaggedData fileData(const std::string& name, std::vector<std::uint8_t> bytes);

/// The size of the tag fileData gives a file of this name.
std::size_t fileTagSize(const std::string& name);

/// The name and checksum a file's tag carries.
struct FileTag {
    std::string name;
    std::string sha256;
};
/// The file fields of `tag`, or none when it is not a file's tag.
std::optional<FileTag> parseFileTag(const std::string& tag);

/// An error as one line: the peer's error with its status code, the library's errors with their
/// description, anything else with its text; that text shortened and escaped as shown() does.
std::string describeError(const std::exception_ptr& error);

}  // namespace quorvane::session
