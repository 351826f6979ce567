// The operator's stop: SIGINT, SIGTERM and SIGHUP (on Windows, Ctrl-C, Ctrl-Break, and the
// console closed, the user logging off or the system shutting down). The first asks the run to
// stop after the slice being written; the program then closes the device, reports, and ends by
// the same signal, so whoever started it sees what it would have seen without the handler. A
// second signal ends the process at once. A run that has not stopped within 2 s of the first
// (a write that never returns) is ended then, with its report said first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iqfeeder {

inline constexpr std::uint32_t kStopDeadlineMs = 2000;

// What the deadline says on standard error before it ends a run stuck in a write: the run's
// summary as it stands. `format` writes it into `text` and returns its length. It runs in the
// signal handler (on Windows, the console's control thread) while the run is stuck, so it may
// only read figures and format them: no allocation, no locks.
struct StopReport {
    std::size_t (*format)(const void* context, char* text, std::size_t size);
    const void* context;
};

void installStopHandlers();
bool stopRequested();
// Sleeps, but returns early once a stop is asked for.
void sleepUnlessStopped(std::uint32_t milliseconds);
// Ends the process by the stop signal with its default action. Only after stopRequested().
[[noreturn]] void endByStopSignal();
// The report the deadline gives, or none (nullptr); `report` must outlive its use.
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
