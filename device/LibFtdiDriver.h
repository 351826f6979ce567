// The driver operations on libftdi1, for Linux operators without the maker's library. Each
// listing scans the bus once and each open works on a libftdi1 context of its own; an open
// device's handle holds that context and the two transfers its writes keep in flight.
#pragma once

#include <chrono>
#include <functional>

#include "device/DriverTable.h"

namespace iqfeeder {

class LibFtdiDriver {
  public:
    // The clock of the writes' time-out.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit LibFtdiDriver(Clock clock = std::chrono::steady_clock::now)
        : clock_(std::move(clock)) {}

    DriverTable table();

  private:
    static FT_STATUS list(bool withSerials, std::vector<ListedDevice>& devices);
    FT_STATUS open(int deviceIndex, FT_HANDLE* handle) const;
    static FT_STATUS write(FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                           WriteReport& report);
    static FT_STATUS close(FT_HANDLE handle, std::uint64_t& confirmed);

    Clock clock_;
};

}  // namespace iqfeeder
