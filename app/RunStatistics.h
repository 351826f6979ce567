// With --stats: once a second (or at the interval asked for), one line on standard error with the
// rate the device takes data at (in the last second and on average) and, for a live file, the
// encoder's rate (the file's growth) and the backlog as time at the device's rate, with the counts
// of what the run had to do. The same figures go to a service manager, if one listens, as the run's
// status once a second. When over the last 10 s the two rates of a live run differ by more than 1
// %, a line says which side is faster, what follows and what to change. All times come from the
// run's clock. A network input adds its own rate and the datagrams the kernel dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "app/RunObserver.h"
#include "common/Console.h"
#include "device/DeviceLink.h"
#include "stream/InputKind.h"

namespace iqfeeder {

struct StatisticsSettings {
    bool printLines = true;
    std::uint64_t printEveryMs = 1000;
    RunObserver* observer = nullptr;  // told the status with the figures, once a second
    std::string inputPath;            // named in the status
};

class RunStatistics {
  public:
    static constexpr std::uint64_t kLineEveryMs = 1000;
    static constexpr std::uint64_t kAdviceWindowMs = 10000;

    using Settings = StatisticsSettings;

    RunStatistics(Console& out, std::uint64_t startMs, Settings settings = {})
        : out_(out), startMs_(startMs), settings_(std::move(settings)) {}

    void countStepBack() { ++stepBacks_; }
    void countJump() { ++jumps_; }
    // A network input's figures as they stand, for the next line.
    void noteNetwork(const NetworkFigures& figures) { network_ = figures; }
    // After every pass and every wait; prints when a second has passed since the last line.
    void update(std::uint64_t nowMs, const DeviceCounters& device, const LiveFigures* live,
                bool deviceLost = false);
    // The same figures over the whole run, once at its end.
    void summary(std::uint64_t nowMs, const DeviceCounters& device) const;

  private:
    struct Sample {
        std::uint64_t atMs;
        std::uint64_t deviceBytes;
        std::optional<LiveFigures> live;
        std::uint64_t networkBytes = 0;
    };
    enum class Verdict { None, EncoderSlower, EncoderFaster };

    void advise(const Sample& now);
    // "; network RATE" and the drops, or "" without a network input.
    std::string networkText(double rate) const;
    void printCounts(const char* lead, const DeviceCounters& device, double deviceRate,
                     double averageRate, const char* liveText) const;

    Console& out_;
    std::uint64_t startMs_;
    Settings settings_;
    std::optional<std::uint64_t> lastLineMs_;
    std::uint64_t stepBacks_ = 0;
    std::uint64_t jumps_ = 0;
    std::optional<NetworkFigures> network_;
    std::deque<Sample> samples_;  // one a line, as far back as the advice looks
    Verdict verdict_ = Verdict::None;
};

}  // namespace iqfeeder
