// The metrics file over a run: written at its start, once a period while it runs, and once more
// at its end with iqfeeder_running 0, so a file left behind is never read as a running feed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "app/MetricsFile.h"
#include "app/MetricsSnapshot.h"
#include "app/MetricsText.h"

namespace iqfeeder {

// Seconds since 1970, for the timestamps the file shows.
using WallClock = std::function<double()>;

class RunMetrics {
  public:
    // Written at most this far apart, whatever the statistics' period: a longer one would
    // leave a file that an alert on its last write time takes for a stopped feed.
    static constexpr std::uint64_t kLongestPeriodMs = 10000;

    // cppcheck-suppress passedByValue ; moved into place
    RunMetrics(MetricsFile& file, const MetricsIdentity& identity, WallClock wallClock,
               std::uint64_t periodMs)
        : file_(file),
          text_(identity),
          wallClock_(std::move(wallClock)),
          periodMs_(periodMs < kLongestPeriodMs ? periodMs : kLongestPeriodMs) {}

    // The consoles' count of lines they dropped for a reader that took none.
    void countLostLinesWith(std::function<std::uint64_t()> linesLost) {
        linesLost_ = std::move(linesLost);
    }

    // After every pass and every wait: writes the file when a period has passed since the last
    // write, or at once the first time.
    void tick(std::uint64_t nowMs, const DeviceLink& device, const RunCounts& run);
    // At the run's end.
    void finish(std::uint64_t nowMs, const DeviceLink& device, const RunCounts& run);

  private:
    void write();

    MetricsFile& file_;
    MetricsText text_;
    WallClock wallClock_;
    std::uint64_t periodMs_;
    MetricsSnapshot snapshot_;
    std::optional<std::uint64_t> lastMs_;  // the last write
    std::uint64_t lastBytes_ = 0;          // the device's count then
    std::function<std::uint64_t()> linesLost_;
};

}  // namespace iqfeeder
