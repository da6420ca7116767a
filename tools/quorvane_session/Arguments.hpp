#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::session {

/// Why a typed command is not carried out, in words for its user.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The words of a typed line, read from the left; words are separated by blanks and tabs.
class Words {
public:
    explicit Words(std::string line) : line_(std::move(line)) {}

    /// The next word, without taking it; none at the end of the line.
    std::optional<std::string> peek() const;
    /// The next word, taken.
    std::optional<std::string> next();
    /// The rest of the line from its next word on, as typed; empty at the end.
    std::string rest();
    bool atEnd() const { return !peek(); }

private:
    std::size_t nextWordStart() const;

    const std::string line_;
    std::size_t position_ = 0;
};

/// `text` as a whole number from 0 to `most`; throws Refused naming the range otherwise.
std::size_t parseCount(const std::string& text, std::size_t most);
/// `text` as a time-out in seconds: a finite number from 0 up; throws Refused otherwise.
double parseSeconds(const std::string& text);
/// The bytes of the regular file at `path`, at most `most` of them; throws Refused saying why it
/// cannot be sent (missing, a folder or other non-regular file, unreadable, too large).
std::vector<std::uint8_t> readRegularFile(const std::string& path, std::size_t most);

}  // namespace quorvane::session
