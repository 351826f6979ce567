#include "app/RunMetrics.h"

#include <limits>

namespace iqfeeder {

void RunMetrics::tick(std::uint64_t nowMs, const DeviceLink& device, const RunCounts& run) {
    takeSnapshot(snapshot_, device, run, nowMs);
    if (!lastMs_ || nowMs >= *lastMs_ + periodMs_) {
        write();
    }
}

void RunMetrics::finish(std::uint64_t nowMs, const DeviceLink& device, const RunCounts& run) {
    takeSnapshot(snapshot_, device, run, nowMs);
    snapshot_.running = false;
    write();
}

void RunMetrics::write() {
    const std::uint64_t nowMs = snapshot_.atMs;
    snapshot_.consoleLinesLost = linesLost_ ? linesLost_() : 0;
    // The backlog at the rate the device took data at since the last write.
    snapshot_.liveBacklogSeconds = 0;
    if (snapshot_.liveBacklogBytes) {
        const std::uint64_t taken = snapshot_.deviceBytes - lastBytes_;
        snapshot_.liveBacklogSeconds = taken > 0 && nowMs > lastMs_.value_or(nowMs)
                                           ? static_cast<double>(*snapshot_.liveBacklogBytes) *
                                                 static_cast<double>(nowMs - *lastMs_) / 1000.0 /
                                                 static_cast<double>(taken)
                                           : std::numeric_limits<double>::quiet_NaN();
    }
    const double wallSeconds = wallClock_();
    snapshot_.lastWriteSeconds =
        snapshot_.lastWriteMs
            ? wallSeconds - static_cast<double>(nowMs - *snapshot_.lastWriteMs) / 1000.0
            : 0.0;
    lastMs_ = nowMs;
    lastBytes_ = snapshot_.deviceBytes;
    const std::string_view text = text_.format(snapshot_);
    if (!text.empty()) {
        (void)file_.replace(text);
    }
}

}  // namespace iqfeeder
