#include "SaveFolder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quorvane::session {

namespace {

/// `name` with "-N" before its extension (the part from its last dot, unless that starts it).
std::string numbered(const std::string& name, int number) {
    const auto dot = name.rfind('.');
    const auto stemEnd = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stemEnd) + "-" + std::to_string(number) + name.substr(stemEnd);
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
    std::string path = folder + "/" + name;
    int fd = createNew(path);
    for (int number = 1; fd < 0 && errno == EEXIST; ++number) {
        path = folder + "/" + numbered(name, number);
        fd = createNew(path);
    }
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    int error = writeAll(fd, bytes);
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        unlink(path.c_str());
        throw std::runtime_error(std::strerror(error));
    }
    return path;
}

}  // namespace quorvane::session
