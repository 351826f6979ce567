// The few operating-system services the entry needs, one small file per platform.
#pragma once

#include <cstdint>

namespace iqfeeder {

bool standardOutputIsTerminal();
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace iqfeeder
