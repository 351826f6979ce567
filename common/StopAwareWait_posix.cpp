#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "common/StopAwareWait.h"

namespace iqfeeder {

WaitOutcome waitUnlessStopped(int fd, std::optional<std::uint32_t> timeoutMs,
                              const std::function<bool()>& stopping, bool writing) {
    // Whichever signal the stop comes by is held here until ppoll lets it in again. The
    // thread's own mask, not the process's: the driver libraries run threads of their own.
    sigset_t held;
    ::sigfillset(&held);
    sigset_t previous;
    (void)::pthread_sigmask(SIG_BLOCK, &held, &previous);  // fails only for a bad `how`
    if (stopping && stopping()) {
        (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return WaitOutcome::Stopped;
    }
    pollfd ready{fd, static_cast<short>(writing ? POLLOUT : POLLIN),
                 0};  // a negative fd is ignored: a plain sleep
    timespec timeout{};
    if (timeoutMs) {
        timeout.tv_sec = static_cast<time_t>(*timeoutMs / 1000);
        timeout.tv_nsec = static_cast<long>(*timeoutMs % 1000) * 1000000L;
    }
    const int result = ::ppoll(&ready, 1, timeoutMs ? &timeout : nullptr, &previous);
    const int error = errno;
    (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (result > 0) {
        return WaitOutcome::Ready;
    }
    if (result == 0) {
        return WaitOutcome::TimedOut;
    }
    errno = error;
    return error == EINTR ? WaitOutcome::Interrupted : WaitOutcome::Failed;
}

}  // namespace iqfeeder

namespace iqfeeder {
namespace {

static_assert(sizeof(sigset_t) <= 256 && alignof(sigset_t) <= 8);

WaitOutcome pollWith(int fd, std::optional<std::uint32_t> timeoutMs, bool writing,
                     const sigset_t* letIn) {
    pollfd ready{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    timespec timeout{};
    if (timeoutMs) {
        timeout.tv_sec = static_cast<time_t>(*timeoutMs / 1000);
        timeout.tv_nsec = static_cast<long>(*timeoutMs % 1000) * 1000000L;
    }
    const int result = ::ppoll(&ready, 1, timeoutMs ? &timeout : nullptr, letIn);
    if (result > 0) {
        return WaitOutcome::Ready;
    }
    if (result == 0) {
        return WaitOutcome::TimedOut;
    }
    return errno == EINTR ? WaitOutcome::Interrupted : WaitOutcome::Failed;
}

}  // namespace

HeldSignals::HeldSignals() {
    sigset_t held;
    ::sigfillset(&held);
    (void)::pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(previous_.data()));
}

HeldSignals::~HeldSignals() {
    (void)::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(previous_.data()),
                            nullptr);
}

WaitOutcome HeldSignals::wait(int fd, std::optional<std::uint32_t> timeoutMs,
                              const std::function<bool()>& stopping, bool writing) const {
    if (stopping && stopping()) {
        return WaitOutcome::Stopped;
    }
    return pollWith(fd, timeoutMs, writing, reinterpret_cast<const sigset_t*>(previous_.data()));
}

}  // namespace iqfeeder
