#include "Arguments.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace quorvane::session {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

/// Closes its file descriptor.
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
};

Refused cannotRead(const std::string& path) { return Refused("cannot read " + path + ": " + std::strerror(errno)); }

}  // namespace

std::size_t Words::nextWordStart() const {
    std::size_t at = position_;
    while (at < line_.size() && isBlank(line_[at])) ++at;
    return at;
}

std::optional<std::string> Words::peek() const {
    const std::size_t start = nextWordStart();
    if (start == line_.size()) return std::nullopt;
    std::size_t end = start;
    while (end < line_.size() && !isBlank(line_[end])) ++end;
    return line_.substr(start, end - start);
}

std::optional<std::string> Words::next() {
    auto word = peek();
    if (word) position_ = nextWordStart() + word->size();
    return word;
}

std::string Words::rest() {
    const std::size_t start = nextWordStart();
    position_ = line_.size();
    return line_.substr(start);
}

std::size_t parseCount(const std::string& text, std::size_t most) {
    const std::string range = "a whole number from 0 to " + std::to_string(most);
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly) throw Refused(quoted(text) + " is not " + range);
    std::size_t value = 0;
    const auto error = std::from_chars(text.data(), text.data() + text.size(), value).ec;
    if (error == std::errc::result_out_of_range || value > most) {
        throw Refused(text + " is over " + std::to_string(most) + ", the most one message carries");
    }
    return value;
}

double parseSeconds(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0) {
        throw Refused("-t takes seconds as a finite number from 0 up, not " + quoted(text));
    }
    return value;
}

std::vector<std::uint8_t> readRegularFile(const std::string& path, std::size_t most) {
    FileDescriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0) throw cannotRead(path);
    if (S_ISDIR(info.st_mode)) throw Refused(path + " is a folder, not a file");
    if (!S_ISREG(info.st_mode)) throw Refused(path + " is not a regular file");
    const std::string over = path + " is over " + std::to_string(most) + " bytes, the most one message carries";
    if (static_cast<std::uintmax_t>(info.st_size) > most) throw Refused(over);
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    ssize_t got;
    while ((got = read(file.fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw cannotRead(path);
        if (bytes.size() + static_cast<std::size_t>(got) > most) throw Refused(over);
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

}  // namespace quorvane::session
