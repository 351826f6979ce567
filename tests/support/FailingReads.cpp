// Deliberately without <unistd.h>: its declaration of pread64 would clash with this definition's
// plain types on some targets.
#include "tests/support/FailingReads.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstddef>

namespace {

using PreadFunction = long (*)(int, void*, std::size_t, long long);

struct Failure {
    long long offset = -1;
    int error = 0;
    int times = 0;
};

// The test program's own state, set by one test at a time.
Failure failure;          // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
std::uint64_t reads = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

namespace iqfeeder::testing {

void failReadsAt(std::int64_t offset, int error, int times) {
    failure = {offset, error, times};
}

std::uint64_t takeReadCount() {
    const std::uint64_t count = reads;
    reads = 0;
    return count;
}

}  // namespace iqfeeder::testing

extern "C" long pread64(int fd, void* buffer, std::size_t size, long long offset) {
    ++reads;
    if (failure.times > 0 && offset == failure.offset) {
        --failure.times;
        errno = failure.error;
        return -1;
    }
    static const auto next = reinterpret_cast<PreadFunction>(::dlsym(RTLD_NEXT, "pread64"));
    return next(fd, buffer, size, offset);
}
