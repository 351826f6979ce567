#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/SystemError.h"
#include "stream/StreamInput.h"

namespace iqfeeder {
namespace {

constexpr int kIdleEveryMs = 1000;

}  // namespace

bool isStreamPath(const std::string& path) {
    struct stat info {};
    return path == "-" || (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

StreamInput::~StreamInput() {
    if (ownsFd_ && fd_ >= 0) {
        ::close(fd_);
    }
}

bool StreamInput::open(const std::string& path) {
    if (path == "-") {
        fd_ = STDIN_FILENO;
        return true;
    }
    // Non-blocking, so the open does not wait for a writer; poll then waits for data, and a
    // stop can still end the wait.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    ownsFd_ = true;
    // Swapped for something else since it was found a FIFO.
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error_ = errno;
        return false;
    }
    if (!S_ISFIFO(info.st_mode)) {
        error_ = EINVAL;
        return false;
    }
    return true;
}

StreamInput::ReadStatus StreamInput::read(std::uint8_t* buffer, std::size_t size,
                                          std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    while (delivered < size) {
        // Wait for data first: a signal ends poll at once, whatever the handler's flags.
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kIdleEveryMs);
        if (polled < 0) {
            if (errno != EINTR) {
                error_ = errno;
                return ReadStatus::Failed;
            }
            if (hooks.stopping && hooks.stopping()) {
                return ReadStatus::Stopped;
            }
            continue;
        }
        // Nothing for a second, or some data but not yet a buffer: the run's clock goes on.
        if (hooks.idle && (polled == 0 || delivered > 0)) {
            hooks.idle();
        }
        if (polled == 0) {
            continue;
        }
        const ssize_t got = ::read(fd_, buffer + delivered, size - delivered);
        if (got > 0) {
            delivered += static_cast<std::size_t>(got);
        } else if (got == 0) {
            return ReadStatus::Ended;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            error_ = errno;
            return ReadStatus::Failed;
        }
    }
    return ReadStatus::Full;
}

std::string StreamInput::errorText() const {
    return systemErrorText(error_);
}

}  // namespace iqfeeder
