#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "app/StopSignal.h"

namespace iqfeeder {
namespace {

// The process's one piece of global state: what the handlers tell the run.
volatile std::sig_atomic_t stopSignal = 0;

[[noreturn]] void endNow(int signal) {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    sigset_t unblock;
    ::sigemptyset(&unblock);
    ::sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    (void)::raise(signal);  // no way to report from here, and _exit follows if it fails
    // cppcheck-suppress unreachableCode ; reached only if the raised signal did not end us
    ::_exit(128 + signal);
}

void onStopSignal(int signal) {
    if (stopSignal != 0) {
        endNow(signal);
    }
    stopSignal = signal;
    // A write that never returns must not hold the process: the alarm ends it.
    ::alarm((kStopDeadlineMs + 999) / 1000);
}

void onDeadline(int) {
    endNow(stopSignal != 0 ? static_cast<int>(stopSignal) : SIGTERM);
}

void install(int signal, void (*handler)(int), bool keepIgnored) {
    struct sigaction action {};
    action.sa_handler = handler;
    ::sigemptyset(&action.sa_mask);
    // Console writes and reads go on where the signal met them; the sleep wakes up.
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
    install(SIGINT, onStopSignal, true);
    install(SIGTERM, onStopSignal, true);
    install(SIGALRM, onDeadline, false);
}

bool stopRequested() {
    return stopSignal != 0;
}

void sleepUnlessStopped(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (!stopRequested() && ::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void endByStopSignal() {
    endNow(static_cast<int>(stopSignal));
}

}  // namespace iqfeeder
