// The one line that ends a stopped run on standard error, as dd's does: what the device took,
// in how long, and what failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceLink.h"

namespace iqfeeder {

// Room for the summary with every figure at its largest.
inline constexpr std::size_t kRunSummaryBytes = 256;

// "2.00 MB/s", "31.2 kB/s" or "0 B/s", whichever reads best.
std::string formatRate(double bytesPerSecond);

std::string runSummary(const DeviceCounters& counters, std::uint64_t elapsedMs);
// The same into `text`, cut to fit `size`. Formatted by hand, without allocating, locking or
// the C library's printf: the stop deadline formats it in a signal handler. Returns its length.
std::size_t formatRunSummary(char* text, std::size_t size, std::uint64_t bytesAccepted,
                             std::uint64_t failedWrites, std::uint64_t shortWrites,
                             std::uint64_t elapsedMs);

}  // namespace iqfeeder
