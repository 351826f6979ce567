// The one line that ends a stopped run on standard error, as dd's does: what the device took,
// in how long, and what failed.
#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceLink.h"

namespace iqfeeder {

// "2.00 MB/s", "31.2 kB/s" or "0 B/s", whichever reads best.
std::string formatRate(double bytesPerSecond);

std::string runSummary(const DeviceCounters& counters, std::uint64_t elapsedMs);

}  // namespace iqfeeder
