#include "app/RunSummary.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace iqfeeder {
namespace {

using RateText = std::array<char, 32>;

void formatRateInto(double bytesPerSecond, RateText& text) {
    if (bytesPerSecond >= 1e6) {
        (void)std::snprintf(text.data(), text.size(), "%.2f MB/s", bytesPerSecond / 1e6);
    } else if (bytesPerSecond >= 1e3) {
        (void)std::snprintf(text.data(), text.size(), "%.1f kB/s", bytesPerSecond / 1e3);
    } else {
        (void)std::snprintf(text.data(), text.size(), "%.0f B/s", bytesPerSecond);
    }
}

}  // namespace

std::string formatRate(double bytesPerSecond) {
    RateText text{};
    formatRateInto(bytesPerSecond, text);
    return text.data();
}

std::size_t formatRunSummary(char* text, std::size_t size, const DeviceCounters& counters,
                             std::uint64_t elapsedMs) {
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    const double rate = elapsedMs > 0 ? static_cast<double>(counters.bytesAccepted) / seconds : 0;
    RateText rateText{};
    formatRateInto(rate, rateText);
    const int length = std::snprintf(
        text, size,
        "iqfeeder: %llu bytes sent to the device in %.1f s (%s), %llu failed writes, %llu short "
        "writes\n",
        static_cast<unsigned long long>(counters.bytesAccepted), seconds, rateText.data(),
        static_cast<unsigned long long>(counters.failedWrites),
        static_cast<unsigned long long>(counters.shortWrites));
    return length > 0 && size > 0 ? std::min(static_cast<std::size_t>(length), size - 1) : 0;
}

std::string runSummary(const DeviceCounters& counters, std::uint64_t elapsedMs) {
    std::array<char, kRunSummaryBytes> text{};
    const std::size_t length = formatRunSummary(text.data(), text.size(), counters, elapsedMs);
    return {text.data(), length};
}

}  // namespace iqfeeder
