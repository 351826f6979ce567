#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/MetricsFile.h"

namespace iqfeeder {

int replaceFileWhole(const std::string& temporary, const std::string& path, std::string_view text) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    // Readable by a collector that runs as another user, whatever the service's umask.
    int error = ::fchmod(fd, 0644) == 0 ? 0 : errno;
    if (error == 0 && !text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            error = errno;
        } else if (static_cast<std::size_t>(written) != text.size()) {
            error = ENOSPC;
        }
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && temporary != path && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        // What was left of it would only take room on a full disk.
        (void)::unlink(temporary.c_str());
    }
    return error;
}

std::string notAFileReason(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return "";
    }
    if (S_ISDIR(status.st_mode)) {
        return "is a directory";
    }
    return S_ISREG(status.st_mode) ? "" : "is not a regular file";
}

}  // namespace iqfeeder
