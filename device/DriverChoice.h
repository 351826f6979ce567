// Which driver fills the table: the automatic choice, or the one the operator names.
#pragma once

namespace iqfeeder {

enum class DriverChoice {
    Automatic,  // the maker's library when it loads, else libftdi1 where built in, else none
    Maker,      // the maker's library, or no driver when it does not load
    LibFtdi,    // libftdi1 (only where built in)
    None,       // no driver: every call fails, nothing is sent
};

}  // namespace iqfeeder
