#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "app/InputFile.h"

namespace iqfeeder {

InputFile::OpenStatus InputFile::open(const std::string& path) {
    close();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return OpenStatus::CannotOpen;
    }
    if (!S_ISREG(info.st_mode)) {
        return OpenStatus::NotRegularFile;
    }
    // Non-blocking in case the path was swapped for a FIFO since the stat.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenStatus::CannotOpen;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return OpenStatus::NotRegularFile;
    }
    fd_ = fd;
    return OpenStatus::Opened;
}

std::int32_t InputFile::measure() {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    ::lseek(fd_, 0, SEEK_SET);
    if (end < 0) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::min<off_t>(end, std::numeric_limits<std::int32_t>::max()));
}

void InputFile::seekTo(std::int32_t offset) {
    // lseek refuses a negative offset with EINVAL and keeps the old one, which is what we rely on.
    ::lseek(fd_, offset, SEEK_SET);
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t size) {
    std::size_t delivered = 0;
    while (delivered < size) {
        const ssize_t got = ::read(fd_, buffer + delivered, size - delivered);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        delivered += static_cast<std::size_t>(got);
    }
    return delivered;
}

void InputFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace iqfeeder
