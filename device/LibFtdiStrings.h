// A chip's product and serial strings, read with a short time-out of our own: libusb's reading
// waits up to a second a string, and a listing made while a lost device is looked for must
// not hold the run that long on a chip that does not answer.
#pragma once

#include <libusb.h>

#include <string>

namespace iqfeeder {

// Each string read waits at most this long.
inline constexpr unsigned kStringTimeoutMs = 100;

// False when the chip can't be opened or does not answer; then both are left empty. The serial
// number is read only when `serial` is given.
bool readChipStrings(libusb_device* device, std::string& product, std::string* serial);

}  // namespace iqfeeder
