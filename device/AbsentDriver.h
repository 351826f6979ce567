// The table used when no driver library could be loaded: every call fails.
#pragma once

#include "device/DriverTable.h"

namespace iqfeeder {

DriverTable absentDriverTable();

}  // namespace iqfeeder
