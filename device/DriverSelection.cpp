#include "device/DriverSelection.h"

#include "device/AbsentDriver.h"

namespace iqfeeder {

bool DriverSelection::haveLibFtdi() {
#if defined(IQFEEDER_HAVE_LIBFTDI)
    return true;
#else
    return false;
#endif
}

DriverSelection::DriverSelection(DriverChoice choice, std::ostream& diagnostics)
    : table_(absentDriverTable()) {
    if (choice == DriverChoice::Automatic || choice == DriverChoice::Maker) {
        makerLibrary_ = MakerLibraryDriver::load(diagnostics);
        if (makerLibrary_) {
            table_ = makerLibrary_->table();
            return;
        }
    }
#if defined(IQFEEDER_HAVE_LIBFTDI)
    if (choice == DriverChoice::Automatic || choice == DriverChoice::LibFtdi) {
        // One insertion per line, so a line is never split between two writes.
        libFtdi_ = std::make_unique<LibFtdiDriver>(
            std::chrono::steady_clock::now,
            [&diagnostics](const char* line) { diagnostics << std::string(line); });
        table_ = libFtdi_->table();
    }
#endif
}

}  // namespace iqfeeder
