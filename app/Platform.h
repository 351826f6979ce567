// The few operating-system services the entry needs, one small file per platform.
#pragma once

namespace iqfeeder {

bool standardOutputIsTerminal();

}  // namespace iqfeeder
