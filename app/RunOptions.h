// What the operator asked of a run, from the command line. The defaults are a plain
// `iqfeeder FILE`.
#pragma once

#include <string>

#include "device/DeviceLink.h"

namespace iqfeeder {

struct RunOptions {
    std::string inputPath;
    DeviceChoice device;
};

}  // namespace iqfeeder
