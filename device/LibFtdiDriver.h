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

    // Says a line on standard error (a libusb fault the reports can't carry).
    using Say = std::function<void(const char* line)>;

    explicit LibFtdiDriver(Clock clock = std::chrono::steady_clock::now, Say say = {})
        : clock_(std::move(clock)), say_(std::move(say)) {}

    DriverTable table();

  private:
    static bool list(bool withSerials, std::vector<ListedDevice>& devices);
    bool open(int deviceIndex, const OpenSettings& settings, DeviceHandle* handle) const;
    static bool close(DeviceHandle handle, std::vector<SliceReport>& reports);

    Clock clock_;
    Say say_;
    std::vector<SliceReport> refused_;  // slices handed without an open device
};

}  // namespace iqfeeder
