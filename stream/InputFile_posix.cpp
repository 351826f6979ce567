#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/SystemError.h"
#include "stream/InputFile.h"

namespace iqfeeder {

InputFile::OpenStatus InputFile::open(const std::string& path) {
    close();
    struct stat info {};
    // Refused before it is opened: opening a device node can act on the device (a serial port
    // raises its modem lines), and a FIFO would wait for a writer.
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return OpenStatus::NotRegularFile;
    }
    // Non-blocking and no controlling terminal, in case the path was swapped since the stat;
    // the fstat below refuses whatever it became.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        openError_ = errno;
        return OpenStatus::CannotOpen;
    }
    // The length comes with the check, so measuring the file costs nothing more.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return OpenStatus::NotRegularFile;
    }
    fd_ = fd;
    offset_ = 0;
    lengthAtOpen_ = info.st_size;
    return OpenStatus::Opened;
}

std::string InputFile::openErrorText() const {
    return systemErrorText(openError_);
}

std::int64_t InputFile::measure() {
    offset_ = 0;
    std::int64_t length = lengthAtOpen_;
    lengthAtOpen_ = -1;
    if (length < 0) {
        struct stat info {};
        length = ::fstat(fd_, &info) == 0 ? info.st_size : 0;
    }
    return length;
}

void InputFile::seekTo(std::int64_t offset) {
    // As lseek would: a negative offset is refused and the old one kept, which we rely on.
    if (offset >= 0) {
        offset_ = offset;
    }
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t size) {
    readError_ = 0;
    std::size_t delivered = 0;
    while (delivered < size) {
        const ssize_t got = ::pread(fd_, buffer + delivered, size - delivered,
                                    static_cast<off_t>(offset_) + static_cast<off_t>(delivered));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            readError_ = errno;  // EIO, ESTALE: not the end of the file
        }
        if (got <= 0) {
            break;
        }
        delivered += static_cast<std::size_t>(got);
    }
    offset_ += static_cast<std::int64_t>(delivered);
    return delivered;
}

std::string InputFile::readErrorText() const {
    return systemErrorText(readError_);
}

void InputFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace iqfeeder
