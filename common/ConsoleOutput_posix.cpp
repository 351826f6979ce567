// Standard output and error on POSIX: a pipe or a terminal written through a non-blocking
// description of our own, the journal's socket with a send that does not wait.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "common/ConsoleOutput.h"

namespace iqfeeder {

ConsoleOutput::ConsoleOutput(int fd, std::function<void(const std::string&)> onFailure)
    : fd_(fd), onFailure_(std::move(onFailure)) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return;
    }
    if (S_ISSOCK(status.st_mode)) {
        isSocket_ = true;
    } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
        // The same pipe or terminal, through a description whose flags are ours alone.
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        ownFd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        pollFirst_ = ownFd_ < 0;
    }
}

ConsoleOutput::~ConsoleOutput() {
    if (ownFd_ >= 0) {
        ::close(ownFd_);
    }
}

long long ConsoleOutput::writeNow(const char* data, std::size_t size) {
    for (;;) {
        ssize_t written = 0;
        if (isSocket_) {
            written = ::send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        } else if (ownFd_ >= 0) {
            written = ::write(ownFd_, data, size);
        } else {
            if (pollFirst_) {
                // A write of at most PIPE_BUF bytes to a pipe that polls writable does not wait.
                pollfd ready{fd_, POLLOUT, 0};
                if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLOUT) == 0) {
                    if ((ready.revents & (POLLERR | POLLHUP)) == 0) {
                        return 0;
                    }
                    errno = EPIPE;
                    return -1;
                }
                size = std::min<std::size_t>(size, PIPE_BUF);
            }
            written = ::write(fd_, data, size);
        }
        if (written >= 0) {
            return written;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace iqfeeder
