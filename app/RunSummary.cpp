#include "app/RunSummary.h"

#include <array>
#include <cstdio>

namespace iqfeeder {

std::string formatRate(double bytesPerSecond) {
    std::array<char, 32> text{};
    if (bytesPerSecond >= 1e6) {
        (void)std::snprintf(text.data(), text.size(), "%.2f MB/s", bytesPerSecond / 1e6);
    } else if (bytesPerSecond >= 1e3) {
        (void)std::snprintf(text.data(), text.size(), "%.1f kB/s", bytesPerSecond / 1e3);
    } else {
        (void)std::snprintf(text.data(), text.size(), "%.0f B/s", bytesPerSecond);
    }
    return text.data();
}

std::string runSummary(const DeviceCounters& counters, std::uint64_t elapsedMs) {
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    const double rate = elapsedMs > 0 ? static_cast<double>(counters.bytesAccepted) / seconds : 0;
    std::array<char, 160> text{};
    (void)std::snprintf(text.data(), text.size(),
                        "iqfeeder: %llu bytes sent to the device in %.1f s (%s), %llu failed "
                        "writes, %llu short writes\n",
                        static_cast<unsigned long long>(counters.bytesAccepted), seconds,
                        formatRate(rate).c_str(),
                        static_cast<unsigned long long>(counters.failedWrites),
                        static_cast<unsigned long long>(counters.shortWrites));
    return text.data();
}

}  // namespace iqfeeder
