// The operator's stop: SIGINT, SIGTERM and SIGHUP (on Windows, Ctrl-C, Ctrl-Break, and the
// console closed, the user logging off or the system shutting down). The first asks the run to
// stop after the slice being written; the program then closes the device, reports, and ends by
// the same signal, so whoever started it sees what it would have seen without the handler. A
// second signal ends the process at once. A run that has not stopped within 2 s of the first
// (a write that never returns) is ended then, with its report said first.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "app/ServiceNotifier.h"
#include "common/ConsoleOutput.h"

namespace iqfeeder {

inline constexpr std::uint32_t kStopDeadlineMs = 2000;

// What the stop handler and the deadline need of the run: the figures of its summary as the run
// publishes them between driver calls (lock-free atomics: the deadline reads them in a signal
// handler, on Windows the console's control thread, while the run is stuck in a write), and the
// service manager's socket, told "stopping" as the stop comes, even while a write is stuck.
struct StopReport {
    std::atomic<std::uint64_t> bytesAccepted{0};
    std::atomic<std::uint64_t> failedWrites{0};
    std::atomic<std::uint64_t> shortWrites{0};
    std::uint64_t startMs = 0;            // the run's start on the monotonic clock
    ServiceNotifier* notifier = nullptr;  // null: no service manager listens
    // Standard output and error: what they hold goes out before the summary.
    std::array<ConsoleOutput*, 2> consoles{};
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "read in a signal handler");

void installStopHandlers();
bool stopRequested();
// Sleeps, but returns early once a stop is asked for.
void sleepUnlessStopped(std::uint32_t milliseconds);
// Ends the process by the stop signal with its default action. Only after stopRequested().
[[noreturn]] void endByStopSignal();
// The report the deadline gives, or none (nullptr); `report` must outlive its use. Its
// `startMs` and `notifier` are set before.
void setStopReport(const StopReport* report);

// Gives `report` to the deadline for as long as the scope lasts.
class StopReportScope {
  public:
    explicit StopReportScope(const StopReport& report) { setStopReport(&report); }
    ~StopReportScope() { setStopReport(nullptr); }
    StopReportScope(const StopReportScope&) = delete;
    StopReportScope& operator=(const StopReportScope&) = delete;
};

}  // namespace iqfeeder
