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

inline constexpr std::int32_t kPositionCap = 500000000;
inline constexpr std::uint32_t kProbeWaitMs = 2000;
inline constexpr std::uint32_t kReopenWaitMs = 1000;

class StreamRunner {
  public:
    StreamRunner(DeviceLink& device, Console& console, SleepFunction sleep,
                 StopQuery stopRequested = {})
        : device_(device),
          console_(console),
          sleep_(std::move(sleep)),
          stopRequested_(std::move(stopRequested)) {}

    // Returns the process exit status: 0 when the run ends normally or is stopped, 1 when the
    // input is refused.
    int run(const RunOptions& options);
    int run(const std::string& inputPath) { return run(RunOptions{inputPath, {}}); }

  private:
    enum class PassOutcome { Continue, RetryAfterPause, FileSent, InputRefused, Stopped };

    bool stopping() const { return stopRequested_ && stopRequested_(); }
    PassOutcome runPass();
    PassOutcome openInput(InputFile& file);
    PassOutcome probe(InputFile& file);

    DeviceLink& device_;
    Console& console_;
    SleepFunction sleep_;
    StopQuery stopRequested_;
    RunState state_;
};

}  // namespace iqfeeder
