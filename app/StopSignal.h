// The operator's stop: SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and the console's control
// events on Windows). The first asks the run to stop after the slice being written; the
// program then closes the device, reports, and ends by the same signal, so whoever started it
// sees what it would have seen without the handler. A second signal, or a run that has not
// stopped within 2 s of the first, ends the process at once.
#pragma once

#include <cstdint>

namespace iqfeeder {

inline constexpr std::uint32_t kStopDeadlineMs = 2000;

void installStopHandlers();
bool stopRequested();
// Sleeps, but returns early once a stop is asked for.
void sleepUnlessStopped(std::uint32_t milliseconds);
// Ends the process by the stop signal with its default action. Only after stopRequested().
[[noreturn]] void endByStopSignal();

}  // namespace iqfeeder
