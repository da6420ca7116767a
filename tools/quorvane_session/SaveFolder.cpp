#include "SaveFolder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "Text.hpp"

namespace quorvane::session {

namespace {

constexpr int lastNumber = 999;
constexpr std::size_t longestExtension = 16;  // its dot included
const std::string neutralName = "received.bin";

/// `name` as a plain, visible file name of well-formed UTF-8: every piece of it that is not plain
/// (a control character, a bidirectional control, a byte that is not UTF-8) and every "/" is "_",
/// and so is a leading "." (nothing hidden, no "." or "..").
std::string plainName(const std::string& name) {
    if (name.empty()) return neutralName;
    std::string plain;
    for (std::size_t at = 0; at < name.size();) {
        const auto piece = pieceAt(name, at);
        plain += !piece.plain || name[at] == '/' ? std::string("_") : name.substr(at, piece.length);
        at += piece.length;
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

/// `name` (a plain name) with `suffix` added before its extension, the part before cut where a
/// character starts so that the whole has at most `limit` bytes. The cut keeps at least the first
/// character (the limit leaves room for four bytes of the stem), so the name still starts as
/// `name` does: never empty, never with a dot.
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

/// A file created for writing, or why none was.
struct Created {
    int fd = -1;
    std::string path;
    int error = 0;  ///< EEXIST when the name and all its numbered forms are taken
};

/// Creates a new file in `folder` under `name` (a plain name) or, when that is taken, under the
/// first free one of its numbered forms.
Created createNumbered(const std::string& folder, const std::string& name) {
    const std::size_t limit = nameLimit(folder);
    Created created;
    for (int number = 0; number <= lastNumber; ++number) {
        created.path = folder + "/" + fitted(name, number == 0 ? "" : "-" + std::to_string(number), limit);
        created.fd = createNew(created.path);
        created.error = created.fd < 0 ? errno : 0;
        if (created.error != EEXIST) break;
    }
    return created;
}

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
    auto created = createNumbered(folder, plainName(name));
    // A name that the folder cannot keep (its path too long, a file system that refuses it) does
    // not lose the file: it is kept under the neutral name.
    if (created.fd < 0 && created.error != EEXIST) created = createNumbered(folder, neutralName);
    if (created.error == EEXIST) {
        throw std::runtime_error("the name and its numbered forms up to -" + std::to_string(lastNumber) +
                                 " are all taken");
    }
    if (created.fd < 0) throw std::runtime_error(std::strerror(created.error));
    int error = writeAll(created.fd, bytes);
    if (close(created.fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        unlink(created.path.c_str());
        throw std::runtime_error(std::strerror(error));
    }
    return created.path;
}

}  // namespace quorvane::session
