#include "SaveFolder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace quorvane::session {

namespace {

constexpr int lastNumber = 999;
constexpr std::size_t longestExtension = 16;  // its dot included
const std::string neutralName = "received.bin";

/// True for a C1 control character's UTF-8 form (U+0080 to U+009F) at `at`.
bool isC1At(const std::string& text, std::size_t at) {
    return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
           (static_cast<unsigned char>(text[at + 1]) & 0xE0) == 0x80;
}

/// `name` as a plain file name: no NUL, no control character, no folder, nothing hidden.
std::string plainName(const std::string& name) {
    if (name.empty()) return neutralName;
    std::string plain;
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto byte = static_cast<unsigned char>(name[at]);
        if (isC1At(name, at)) {
            plain += '_';
            ++at;
        } else {
            plain += byte < 0x20 || byte == 0x7f || byte == '/' ? '_' : name[at];
        }
    }
    if (plain.front() == '.') plain.front() = '_';
    return plain;
}

/// The most bytes a file name in `folder` can have; never so few that an extension and a number
/// leave no room.
std::size_t nameLimit(const std::string& folder) {
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return std::max<std::size_t>(limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX, longestExtension + 8);
}

/// `name` with `suffix` added before its extension, the part before cut where a character starts
/// so that the whole has at most `limit` bytes.
std::string fitted(const std::string& name, const std::string& suffix, std::size_t limit) {
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0 && name.size() - dot <= longestExtension;
    const auto stemEnd = hasExtension ? dot : name.size();
    auto cut = std::min(stemEnd, limit - suffix.size() - (name.size() - stemEnd));
    while (cut > 0 && cut < stemEnd && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut) + suffix + name.substr(stemEnd);
}

/// Creates `path` for writing, failing when it exists; -1 with errno set when it cannot.
int createNew(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); }

/// Writes all of `bytes`; 0, or the errno of the write that failed.
int writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + written, bytes.size() - written);
        if (wrote < 0 && errno != EINTR) return errno;
        if (wrote > 0) written += static_cast<std::size_t>(wrote);
    }
    return 0;
}

}  // namespace

std::string saveFolderProblem(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return "not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

std::string saveNewFile(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string plain = plainName(name);
    const std::size_t limit = nameLimit(folder);
    std::string path;
    int fd = -1;
    for (int number = 0; fd < 0 && number <= lastNumber; ++number) {
        path = folder + "/" + fitted(plain, number == 0 ? "" : "-" + std::to_string(number), limit);
        fd = createNew(path);
        if (fd < 0 && errno != EEXIST) throw std::runtime_error(std::strerror(errno));
    }
    if (fd < 0) {
        throw std::runtime_error("the name and its numbered forms up to -" + std::to_string(lastNumber) +
                                 " are all taken");
    }
    int error = writeAll(fd, bytes);
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        unlink(path.c_str());
        throw std::runtime_error(std::strerror(error));
    }
    return path;
}

}  // namespace quorvane::session
