#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/StopAwareWait.h"
#include "common/SystemError.h"
#include "stream/StreamReader.h"

namespace iqfeeder {
namespace {

constexpr std::uint32_t kIdleEveryMs = 1000;

}  // namespace

bool isStreamPath(const std::string& path) {
    struct stat info {};
    return path == "-" || (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

StreamReader::~StreamReader() {
    if (ownsFd_ && fd_ >= 0) {
        ::close(fd_);
    }
}

bool StreamReader::open(const std::string& path) {
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

StreamReader::ReadStatus StreamReader::read(std::uint8_t* buffer, std::size_t size,
                                            std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    while (delivered < size) {
        // Wait for data first; a stop ends the wait, however close to its start it came. The wait
        // ends every second too, which is also when a watchdog hears the run is alive.
        switch (waitUnlessStopped(fd_, kIdleEveryMs, hooks.stopping)) {
            case WaitOutcome::Stopped:
                return ReadStatus::Stopped;
            case WaitOutcome::Failed:
                error_ = errno;
                return ReadStatus::Failed;
            case WaitOutcome::Interrupted:
                continue;
            case WaitOutcome::TimedOut:
                // Nothing for a second: the run's clock goes on.
                if (hooks.idle) {
                    hooks.idle();
                }
                continue;
            case WaitOutcome::Ready:
                break;
        }
        // Some data but not yet a buffer: the run's clock goes on too.
        if (hooks.idle && delivered > 0) {
            hooks.idle();
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

std::string StreamReader::errorText() const {
    return systemErrorText(error_);
}

}  // namespace iqfeeder
