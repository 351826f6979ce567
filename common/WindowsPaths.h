// How Windows reads a path, as far as the input file needs it. Plain string rules, built on every
// platform so they can be checked anywhere.
#pragma once

#include <string_view>

#include "common/Utf16.h"

namespace iqfeeder {

// A path Windows would take for a device rather than a file: a reserved name (CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 and COM/LPT with a superscript 1-3, CONIN$, CONOUT$; any case, any extension,
// trailing dots and spaces, in any folder), or a path in the device namespace (\\.\, \\?\ other
// than a drive, UNC or volume path, \??\ likewise). Named pipes (\\.\pipe\...) are not counted:
// they are files of a kind, told apart once open. Must be asked before the path is touched at all:
// opening a serial port, even to read its attributes, raises its modem lines.
bool isWindowsDeviceName(std::string_view utf8Path);

// The \\?\ form of an absolute path (a drive path or a UNC path, with backslashes), which Windows
// opens whatever its length; a path already in that form or the device namespace stays as it is.
Utf16String extendedLengthPath(Utf16View fullPath);

}  // namespace iqfeeder
