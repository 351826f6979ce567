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
    bool stats = false;      // rates and advice once a second on standard error
    bool reconnect = false;  // a device that is gone is looked for again
    bool unlimited = false;  // 64-bit lengths and positions, and no position cap
};

}  // namespace iqfeeder
