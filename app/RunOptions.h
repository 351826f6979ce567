// What the operator asked of a run, from the command line. The defaults are a plain
// `iqfeeder FILE`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceLink.h"
#include "stream/NetworkOperand.h"

namespace iqfeeder {

struct RunOptions {
    std::string inputPath;                  // "-": standard input
    std::optional<NetworkOperand> network;  // inputPath read as a network input
    DeviceChoice device;
    // Send a recording this many times in all, end to end with no gap; 0: until stopped.
    std::optional<std::uint64_t> repeat;
    bool stats = false;              // rates and advice on standard error
    std::uint32_t statsSeconds = 1;  // a line of rates at most this often
    bool reconnect = false;          // a device that is gone is looked for again
    bool unlimited = false;          // 64-bit lengths and positions, and no position cap
    // The file is live whatever it does at start: never taken for a recording, and nothing
    // that was in it before it grew is sent.
    bool live = false;
    // The console for a log (the journal): the progress or status line at most once per this
    // many seconds (0: never) as a whole line, and repeated events folded into one line a
    // minute. Unset: the terminal's console.
    std::optional<std::uint32_t> progressSeconds;
    // The metrics file, replaced whole every statistics period; empty: none.
    std::string metricsPath;
};

}  // namespace iqfeeder
