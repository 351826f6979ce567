// The run from the command line to its end: device set-up, then one pass per buffer over the
// input file until a recording has been sent or the position cap is reached.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/InputFile.h"
#include "app/RunOptions.h"
#include "app/RunState.h"
#include "app/RunStatistics.h"
#include "common/Console.h"
#include "device/DeviceLink.h"

namespace iqfeeder {

using SleepFunction = std::function<void(std::uint32_t milliseconds)>;
// Asked between passes and after every wait (and by the device link between slices): once it
// holds, the run closes the device and ends.
using StopQuery = DeviceLink::StopQuery;
// Milliseconds on a monotonic clock, for the rates and the pace of reconnecting.
using ClockFunction = std::function<std::uint64_t()>;

inline constexpr std::uint32_t kProbeWaitMs = 2000;
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
};

class StreamRunner {
  public:
    StreamRunner(DeviceLink& device, RunSeams seams)
        : device_(device),
          console_(seams.console),
          diagnostics_(seams.diagnostics),
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
    enum class PassOutcome { Continue, RetryAfterPause, FileSent, InputRefused, Stopped };

    bool stopping() const { return stopRequested_ && stopRequested_(); }
    // A recording or a live file, pass by pass.
    int runFile();
    PassOutcome runPass();
    PassOutcome openInput(InputFile& file);
    // The fixed line, and the system's reason on standard error when it is a new one.
    void sayCannotOpen(const std::string& why);
    PassOutcome probe(InputFile& file);
    // A recording sent again and again, end to end.
    PassOutcome runRepeatPass(InputFile& file);
    // Standard input or a FIFO, from its start to its end.
    int runStream();
    // A network input, sender after sender, until stopped.
    int runNetwork(const NetworkOperand& operand);
    std::int64_t measure(InputFile& file) const;
    std::uint64_t now() const { return clock_ ? clock_() : 0; }
    // Sends a pass buffer; one that did not reach the device waits its nominal time.
    SendResult send(std::uint8_t* buffer, std::uint32_t size);
    // With the device lost: one attempt to get it back, at most once a second.
    bool deviceBack();
    // Waits until the lost device is back or the run is stopped.
    void waitForDevice();
    void updateStatistics(const LiveFigures* live);

    DeviceLink& device_;
    Console& console_;
    Console& diagnostics_;
    SleepFunction sleep_;
    StopQuery stopRequested_;
    ClockFunction clock_;
    RunState state_;
    std::optional<RunStatistics> statistics_;
    std::optional<std::uint64_t> lastReconnectMs_;
    std::string lastOpenError_;  // said once, not at every retry
};

}  // namespace iqfeeder
