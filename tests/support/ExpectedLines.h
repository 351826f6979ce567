// The program's console lines as the tests expect them, byte for byte.
#pragma once

#include <cstdint>
#include <string>

namespace iqfeeder::testing {

// A failed listing, and the open that is then not tried.
inline const std::string kNoDeviceLines =
    "Failed to find any FTDI devices.....!\nPlease exit.............\nCan't open FTDI Device.\n";
inline const std::string kProbeLine = "Checking if it's a recorded file or live stream.....\n";
inline const std::string kOvertakenLines = "\nInput stream bitrate not high enough\n";
inline const std::string kRaisedLine = "Increasing buffer to 64000Bytes\n";
inline const std::string kJumpedLines = "\nDelay too high, re-started buffer..\n";
// On standard error, when the position cap ends a run.
inline const std::string kCapLine =
    "iqfeeder: the read position reached 500000000 bytes, where a run ends; --unlimited follows "
    "a file past it\n";

inline std::string statusLine(std::int64_t kilobytes, std::int64_t milliseconds) {
    return "Status: Size of pipe file is: " + std::to_string(kilobytes) +
           " KBytes, Delay: " + std::to_string(milliseconds) + "ms\r";
}

inline std::string progressLine(std::int64_t sentKb, std::int64_t totalKb) {
    return "Using pre-recorded file, Sent " + std::to_string(sentKb) + " of " +
           std::to_string(totalKb) + "KB\r";
}

inline std::string cantOpenLine(const std::string& path) {
    return "Error opening " + path + ", Check file exists!\n";
}

}  // namespace iqfeeder::testing
