// Picks the driver at start: the maker's library when it loads, otherwise the table whose
// calls all fail. Holds whatever it loaded for the whole run.
#pragma once

#include <memory>

#include "device/Ftd2xx.h"
#include "device/MakerLibraryDriver.h"

namespace iqfeeder {

class DriverSelection {
  public:
    DriverSelection();
    const DriverTable& table() const { return table_; }

  private:
    std::unique_ptr<MakerLibraryDriver> makerLibrary_;
    DriverTable table_;
};

}  // namespace iqfeeder
