// The run from the command line to its end: device set-up, then the loop. Each pass takes the
// next buffer from the input's kind (a recording, a live file, a stream, a network input), hands it
// to the device link, paces a buffer that did not reach the device, and keeps the statistics, until
// the input ends or the operator stops the run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/MetricsSnapshot.h"
#include "app/RunMetrics.h"
#include "app/RunObserver.h"
#include "app/RunOptions.h"
#include "app/RunStatistics.h"
#include "common/Console.h"
#include "device/DeviceLink.h"
#include "stream/InputKind.h"

namespace iqfeeder {

// Asked between passes and after every wait (and by the device link between slices): once it
// holds, the run closes the device and ends.
using StopQuery = DeviceLink::StopQuery;
// Milliseconds on a monotonic clock, for the rates and the pace of reconnecting.
using ClockFunction = std::function<std::uint64_t()>;

inline constexpr std::uint32_t kReopenWaitMs = 1000;
// A lost device is looked for at most this often.
inline constexpr std::uint64_t kReconnectEveryMs = 1000;
// The pace the console's delay assumes: a buffer that did not reach the device waits as long
// as the device would have taken it, so a missing or failing device can't make the loop spin.
inline constexpr std::uint32_t kNominalBytesPerMs = 128;

// What the run reaches outside itself, each injected so that tests can stand in for it.
struct RunSeams {
    Console& console;
    Console& diagnostics;  // standard error: what the fixed console lines leave unsaid
    SleepFunction sleep;
    StopQuery stopRequested = {};
    ClockFunction clock = {};
    RunObserver* observer = nullptr;  // a service manager, when one listens
    RunMetrics* metrics = nullptr;    // the metrics file, when one is asked for
};

class StreamRunner {
  public:
    // cppcheck-suppress passedByValue ; taken apart member by member, the functions moved
    StreamRunner(DeviceLink& device, RunSeams seams)
        : device_(device),
          console_(seams.console),
          diagnostics_(seams.diagnostics),
          observer_(seams.observer),
          metrics_(seams.metrics),
          sleep_(std::move(seams.sleep)),
          stopRequested_(std::move(seams.stopRequested)),
          clock_(std::move(seams.clock)) {}

    // Returns the process exit status: 0 when the run ends normally or is stopped, 1 when the
    // input is refused.
    int run(const RunOptions& options);
    int run(const std::string& inputPath) {
        RunOptions options;
        options.inputPath = inputPath;
        return run(options);
    }

  private:
    bool stopping() const { return stopRequested_ && stopRequested_(); }
    std::unique_ptr<InputKind> chooseInput(const RunOptions& options);
    int loop(std::unique_ptr<InputKind> input);
    std::uint64_t now() const { return clock_ ? clock_() : 0; }
    // Sends a pass buffer; what of it did not reach the device (failed or cut short) waits its
    // nominal time.
    void send(std::uint8_t* buffer, std::uint32_t size);
    // Closes the device at the end of a run; the tail it did not confirm before it went waits
    // for it to come back.
    void closeDevice();
    // With the device lost: one attempt to get it back, at most once a second.
    bool deviceBack();
    // Waits until the lost device is back or the run is stopped.
    void waitForDevice();
    // The run's hooks, each in one place: the statistics after every pass and every wait, and
    // every pause of the loop's own.
    void afterPass(const LiveFigures* live, const NetworkFigures* network = nullptr);
    void countForMetrics(const LiveFigures* live, const NetworkFigures* network);
    void tickMetrics() {
        if (metrics_ != nullptr) {
            metrics_->tick(now(), device_, counts_);
        }
    }
    void pause(std::uint32_t milliseconds) { sleep_(milliseconds); }

    DeviceLink& device_;
    Console& console_;
    Console& diagnostics_;
    RunObserver* observer_;
    RunMetrics* metrics_;
    RunCounts counts_;
    SleepFunction sleep_;
    StopQuery stopRequested_;
    ClockFunction clock_;
    std::optional<RunStatistics> statistics_;
    std::optional<std::uint64_t> lastReconnectMs_;
};

}  // namespace iqfeeder
