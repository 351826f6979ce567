// Running programs with umockdev's preload library, through which they see an EmulatedUsbBus.
// Its wrapper script puts the library first in LD_PRELOAD; in a sanitizer build the sanitizer
// runtime has to come first, so there LD_PRELOAD is set directly.
#pragma once

#include <string>
#include <vector>

namespace iqfeeder::testing {

// The command line that runs `command` with the preload library.
std::vector<std::string> underUmockdev(const std::vector<std::string>& command);

// Re-executes this process with the preload library unless it already has it; for programs
// that emulate a bus and use libusb in the same process.
void ensureUmockdevPreload(int argc, char** argv);

}  // namespace iqfeeder::testing
