// The four calls on libftdi1, for Linux operators without the maker's library. Each listing
// and each open works on its own libftdi1 context; an open device's handle holds that context
// and the two transfers its writes keep in flight.
#pragma once

#include <chrono>
#include <functional>

#include "device/Ftd2xx.h"

namespace iqfeeder {

class LibFtdiDriver {
  public:
    // The clock of the writes' time-out.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit LibFtdiDriver(Clock clock = std::chrono::steady_clock::now)
        : clock_(std::move(clock)) {}

    DriverTable table();

  private:
    static FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
    FT_STATUS open(int deviceIndex, FT_HANDLE* handle) const;
    static FT_STATUS write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
    static FT_STATUS close(FT_HANDLE handle);

    Clock clock_;
};

}  // namespace iqfeeder
