#include "tests/support/FileProducer.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "tests/support/TempDir.h"

namespace iqfeeder::testing {
namespace {

timespec advanced(timespec at, std::chrono::nanoseconds by) {
    const long long total = at.tv_nsec + by.count();
    at.tv_sec += static_cast<time_t>(total / 1000000000LL);
    at.tv_nsec = static_cast<long>(total % 1000000000LL);
    return at;
}

[[noreturn]] void produce(const std::string& path, std::uint64_t bytesPerSecond,
                          std::chrono::milliseconds tick) {
    // Go with the test that started us, however it ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        ::_exit(1);
    }
    const auto start = static_cast<std::uint64_t>(info.st_size);
    std::uint64_t length = start;
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    for (std::uint64_t ticks = 1;; ++ticks) {
        due = advanced(due, tick);
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        const std::uint64_t target =
            start + bytesPerSecond * ticks * static_cast<std::uint64_t>(tick.count()) / 1000U;
        const auto bytes = patternBytes(static_cast<std::size_t>(target - length),
                                        static_cast<std::size_t>(length));
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t got = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (got <= 0) {
                ::_exit(1);
            }
            written += static_cast<std::size_t>(got);
        }
        length = target;
    }
}

}  // namespace

FileProducer::FileProducer(const std::string& path, std::uint64_t bytesPerSecond,
                           std::chrono::milliseconds tick) {
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        produce(path, bytesPerSecond, tick);
    }
}

FileProducer::~FileProducer() {
    stop();
}

void FileProducer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

}  // namespace iqfeeder::testing
