// Picks the driver at start, as the operator chose or, by default, the maker's library when it
// loads, otherwise libftdi1 when the program was built with it, otherwise the table whose calls
// all fail. Holds whatever it chose for the whole run. Why a maker's library that is there was
// passed over goes to `diagnostics`.
#pragma once

#include <iosfwd>
#include <memory>

#include "device/DriverChoice.h"
#include "device/DriverTable.h"
#include "device/LibFtdiDriver.h"
#include "device/MakerLibraryDriver.h"

namespace iqfeeder {

class DriverSelection {
  public:
    DriverSelection(DriverChoice choice, std::ostream& diagnostics);
    const DriverTable& table() const { return table_; }
    // What it chose: "maker", "libftdi1" or "none".
    const char* name() const {
        if (makerLibrary_) {
            return "maker";
        }
        return libFtdi_ ? "libftdi1" : "none";
    }

    // Whether this build has the libftdi1 driver.
    static bool haveLibFtdi();

  private:
    std::unique_ptr<MakerLibraryDriver> makerLibrary_;
    std::unique_ptr<LibFtdiDriver> libFtdi_;
    DriverTable table_;
};

}  // namespace iqfeeder
