#include "device/DriverSelection.h"

#include "device/AbsentDriver.h"

namespace iqfeeder {

DriverSelection::DriverSelection() : makerLibrary_(MakerLibraryDriver::load()) {
    table_ = makerLibrary_ ? makerLibrary_->table() : absentDriverTable();
}

}  // namespace iqfeeder
