// The run from the command line to its end: device set-up, then one pass per buffer over the
// input file until a recording has been sent or the position cap is reached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/InputFile.h"
#include "app/RunOptions.h"
#include "app/RunState.h"
#include "common/Console.h"
#include "device/DeviceLink.h"

namespace iqfeeder {

using SleepFunction = std::function<void(std::uint32_t milliseconds)>;
// Asked between passes and after every wait: once it holds, the run closes the device and ends.
using StopQuery = std::function<bool()>;

inline constexpr std::uint32_t kProbeWaitMs = 2000;
inline constexpr std::uint32_t kReopenWaitMs = 1000;

// What the run reaches outside itself, each injected so that tests can stand in for it.
struct RunSeams {
    Console& console;
    Console& diagnostics;  // standard error: what the fixed console lines leave unsaid
    SleepFunction sleep;
    StopQuery stopRequested = {};
};

class StreamRunner {
  public:
    StreamRunner(DeviceLink& device, RunSeams seams)
        : device_(device),
          console_(seams.console),
          diagnostics_(seams.diagnostics),
          sleep_(std::move(seams.sleep)),
          stopRequested_(std::move(seams.stopRequested)) {}
    StreamRunner(DeviceLink& device, Console& console, SleepFunction sleep)
        : StreamRunner(device, RunSeams{console, console, std::move(sleep)}) {}

    // Returns the process exit status: 0 when the run ends normally or is stopped, 1 when the
    // input is refused.
    int run(const RunOptions& options);
    int run(const std::string& inputPath) {
        RunOptions options;
        options.inputPath = inputPath;
        return run(options);
    }

  private:
    enum class PassOutcome { Continue, RetryAfterPause, FileSent, InputRefused, Stopped };

    bool stopping() const { return stopRequested_ && stopRequested_(); }
    PassOutcome runPass();
    PassOutcome openInput(InputFile& file);
    PassOutcome probe(InputFile& file);
    // A recording sent again and again, end to end.
    PassOutcome runRepeatPass(InputFile& file);
    // Standard input or a FIFO, from its start to its end.
    int runStream();
    std::int64_t measure(InputFile& file) const;

    DeviceLink& device_;
    Console& console_;
    Console& diagnostics_;
    SleepFunction sleep_;
    StopQuery stopRequested_;
    RunState state_;
    std::string lastOpenError_;  // said once, not at every retry
};

}  // namespace iqfeeder
