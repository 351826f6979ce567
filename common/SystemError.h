// The system's own words for an error code: errno on POSIX, GetLastError() on Windows.
#pragma once

#include <string>

namespace iqfeeder {

std::string systemErrorText(int code);

}  // namespace iqfeeder
