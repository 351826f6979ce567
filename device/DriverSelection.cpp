#include "device/DriverSelection.h"

#include "device/AbsentDriver.h"

namespace iqfeeder {

DriverSelection::DriverSelection(std::ostream& diagnostics)
    : makerLibrary_(MakerLibraryDriver::load(diagnostics)) {
    if (makerLibrary_) {
        table_ = makerLibrary_->table();
        return;
    }
#if defined(IQFEEDER_HAVE_LIBFTDI)
    libFtdi_ = std::make_unique<LibFtdiDriver>();
    table_ = libFtdi_->table();
#else
    table_ = absentDriverTable();
#endif
}

}  // namespace iqfeeder
