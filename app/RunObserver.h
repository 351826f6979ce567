// What a service manager hears of a run: that it has started (the device listed and opened or
// waited for), and a line of what it is doing with its figures.
#pragma once

#include <string>

namespace iqfeeder {

class RunObserver {
  public:
    virtual ~RunObserver() = default;
    virtual void started() = 0;
    // "streaming live.iq: device 2.00 MB/s, ...", "device lost, looking for it"
    virtual void status(const std::string& text) = 0;
};

}  // namespace iqfeeder
