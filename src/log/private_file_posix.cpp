// The driver's folder and files on Linux: created for the user alone (0700 and 0600), whatever
// the process's umask would let others read; existing ones keep their mode.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/logger.h"

namespace vesklink {

void CreatePrivateFolder(const std::string& path) { ::mkdir(path.c_str(), 0700); }

std::FILE* OpenPrivateFile(const std::string& path, const char* mode) {
    if (!mode || !*mode) return nullptr;
    const bool update = std::strchr(mode, '+') != nullptr;
    int flags = O_CLOEXEC | (update ? O_RDWR : 0);
    switch (mode[0]) {
        case 'r': flags |= update ? 0 : O_RDONLY; break;
        case 'w': flags |= (update ? 0 : O_WRONLY) | O_CREAT | O_TRUNC; break;
        case 'a': flags |= (update ? 0 : O_WRONLY) | O_CREAT | O_APPEND; break;
        default: return nullptr;
    }
    if (std::strchr(mode, 'x')) flags |= O_EXCL;
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, mode);
    if (!file) ::close(fd);
    return file;
}

std::string PutFileInPlace(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? std::string() : std::strerror(errno);
}

std::string RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? std::string() : std::strerror(errno); }

}  // namespace vesklink
