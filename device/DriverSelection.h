// Picks the driver at start: the maker's library when it loads, otherwise libftdi1 when the
// program was built with it, otherwise the table whose calls all fail. Holds whatever it
// chose for the whole run.
#pragma once

#include <memory>

#include "device/Ftd2xx.h"
#include "device/LibFtdiDriver.h"
#include "device/MakerLibraryDriver.h"

namespace iqfeeder {

class DriverSelection {
  public:
    DriverSelection();
    const DriverTable& table() const { return table_; }

  private:
    std::unique_ptr<MakerLibraryDriver> makerLibrary_;
    std::unique_ptr<LibFtdiDriver> libFtdi_;
    DriverTable table_;
};

}  // namespace iqfeeder
