#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>

#include "app/RunSummary.h"
#include "app/StopSignal.h"
#include "common/StopAwareWait.h"

namespace iqfeeder {
namespace {

// The process's one piece of global state: what the handlers tell the run, and what they need
// to reach it.
volatile std::sig_atomic_t stopSignal = 0;
// The thread the run waits on. The driver libraries start threads of their own, and the kernel
// may give a signal to any of them: the run's thread must get it too, or its wait goes on.
pthread_t runThread;
std::atomic<const StopReport*> stopReport{nullptr};
static_assert(std::atomic<const StopReport*>::is_always_lock_free, "read in a signal handler");

[[noreturn]] void endNow(int signal) {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    sigset_t unblock;
    ::sigemptyset(&unblock);
    ::sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    (void)::raise(signal);  // no way to report from here, and _exit follows if it fails
    // cppcheck-suppress unreachableCode ; reached only if the raised signal did not end us
    ::_exit(128 + signal);
}

void onStopSignal(int signal) {
    const int savedErrno = errno;
    if (::pthread_equal(::pthread_self(), runThread) == 0) {
        (void)::pthread_kill(runThread, signal);  // the run's thread takes it from here
    } else if (stopSignal != 0) {
        endNow(signal);
    } else {
        stopSignal = signal;
        if (const StopReport* report = stopReport.load();
            report != nullptr && report->notifier != nullptr) {
            report->notifier->stopping();  // a sendto, whatever the run is stuck in
        }
        // A write that never returns must not hold the process: the alarm ends it.
        ::alarm((kStopDeadlineMs + 999) / 1000);
    }
    errno = savedErrno;
}

// The monotonic clock's milliseconds, as std::chrono::steady_clock counts them here.
std::uint64_t monotonicMs() {
    timespec now{};
    (void)::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

// Async-signal-safe throughout: atomics, clock_gettime, a hand-made format, sendto, poll and
// write.
void onDeadline(int) {
    if (const StopReport* report = stopReport.load(); report != nullptr) {
        if (report->notifier != nullptr) {
            report->notifier->stopping();
        }
        for (ConsoleOutput* console : report->consoles) {
            if (console != nullptr) {
                console->writeHeldAtDeadline();
            }
        }
        std::array<char, kRunSummaryBytes> text{};
        const std::size_t length = formatRunSummary(
            text.data(), text.size(), report->bytesAccepted.load(), report->failedWrites.load(),
            report->shortWrites.load(), monotonicMs() - report->startMs);
        // A standard error nobody reads must not hold the end: the line goes only if it fits.
        pollfd ready{STDERR_FILENO, POLLOUT, 0};
        std::size_t done = 0;
        while (done < length && ::poll(&ready, 1, 0) == 1 && (ready.revents & POLLOUT) != 0) {
            const ssize_t written = ::write(STDERR_FILENO, text.data() + done, length - done);
            if (written <= 0 && errno != EINTR) {
                break;
            }
            done += written > 0 ? static_cast<std::size_t>(written) : 0;
        }
    }
    endNow(stopSignal != 0 ? static_cast<int>(stopSignal) : SIGTERM);
}

void install(int signal, void (*handler)(int), bool keepIgnored) {
    struct sigaction action {};
    action.sa_handler = handler;
    ::sigemptyset(&action.sa_mask);
    // Console writes and reads go on where the signal met them; the waits end.
    action.sa_flags = SA_RESTART;
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    // A signal the caller had ignored (a background job, nohup) stays ignored.
    if (!keepIgnored || previous.sa_handler != SIG_IGN) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void installStopHandlers() {
    runThread = ::pthread_self();
    install(SIGINT, onStopSignal, true);
    install(SIGTERM, onStopSignal, true);
    // The terminal gone, as when the ssh session of a foreground run closes.
    install(SIGHUP, onStopSignal, true);
    install(SIGALRM, onDeadline, false);
}

bool stopRequested() {
    return stopSignal != 0;
}

void sleepUnlessStopped(std::uint32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || waitUnlessStopped(-1, static_cast<std::uint32_t>(left), stopRequested) !=
                             WaitOutcome::Interrupted) {
            return;
        }
    }
}

void endByStopSignal() {
    endNow(static_cast<int>(stopSignal));
}

void setStopReport(const StopReport* report) {
    stopReport.store(report);
}

}  // namespace iqfeeder
