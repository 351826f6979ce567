// Every fixed line a run prints on standard output, in one place. A plain `iqfeeder FILE` prints
// these and nothing else, byte for byte as written here: scripts and operators read them, so a
// change to any of them is a change of the program's contract. The lines ending in "\r" repeat
// in place on a terminal.
#pragma once

namespace iqfeeder::lines {

// Listing and opening the device.
inline constexpr const char* kNoDevices = "Failed to find any FTDI devices.....!\n";
inline constexpr const char* kPleaseExit = "Please exit.............\n";
inline constexpr const char* kDevicesConnected = "\nDevices connected:\n";
inline constexpr const char* kFirstDevice = "0: %s\n";   // its description
inline constexpr const char* kSecondDevice = "1: %s\n";  // the list shows two at most
inline constexpr const char* kDevicesEnd = "\n";
inline constexpr const char* kCantOpenDevice = "Can't open FTDI Device.\n";

// The run's start.
inline constexpr const char* kInputFileIs = "Input file is %s\n";
inline constexpr const char* kSending = "Sending IQ data to FTDI USB device.....\n\n";

// A file's passes.
inline constexpr const char* kProbing = "Checking if it's a recorded file or live stream.....\n";
inline constexpr const char* kRecordedProgress = "Using pre-recorded file, Sent %lld of %lldKB\r";
inline constexpr const char* kFileSent = "File sent.\n";
inline constexpr const char* kLiveStatus =
    "Status: Size of pipe file is: %lld KBytes, Delay: %lldms\r";
inline constexpr const char* kOvertaken = "\nInput stream bitrate not high enough\n";
inline constexpr const char* kBufferRaised = "Increasing buffer to %iBytes\n";
inline constexpr const char* kTooFarBehind = "\nDelay too high, re-started buffer..\n";

// A stream's passes (standard input, a FIFO, a named pipe).
inline constexpr const char* kWaitingForWriter = "Waiting for a writer on %s.....\n";
inline constexpr const char* kStreamProgress = "Using input stream, Read %lldKB\r";
inline constexpr const char* kStreamEnded = "Input stream ended after %lld bytes.\n";

// A network input's passes and senders.
inline constexpr const char* kConnecting = "Connecting to %s.....\n";
inline constexpr const char* kWaitingForSender = "Waiting for a sender on %s.....\n";
inline constexpr const char* kSenderConnected = "Sender %s connected.\n";
inline constexpr const char* kNetworkProgress = "Using network input, Read %lldKB\r";
inline constexpr const char* kSenderEnded = "Sender %s ended after %llu bytes.\n";
inline constexpr const char* kSenderLost = "Connection to sender %s lost after %llu bytes!\n";
inline constexpr const char* kConnectionRefused =
    "Connection to %s refused, trying again every second.....\n";
inline constexpr const char* kCannotConnect =
    "Cannot connect to %s, trying again every second.....\n";
inline constexpr const char* kCantReceive = "Cannot receive on %s!\n";

// The input failing.
inline constexpr const char* kCantOpenInput = "Error opening %s, Check file exists!\n";
inline constexpr const char* kNotRegularFile = "Error opening %s, not a regular file!\n";
inline constexpr const char* kCantReadInput = "Error reading %s!\n";

// Writes to the device.
inline constexpr const char* kWriteFailed = "FT_W32_WriteFile Failed\n";
inline constexpr const char* kWriteTimedOut = "FT_W32_WriteFile TimeOut\n";

// Lines only an option brings: --repeat (with a count, or until stopped).
inline constexpr const char* kRepeatProgressOf =
    "Using pre-recorded file, Sent %lld of %lldKB, repetition %llu of %llu\r";
inline constexpr const char* kRepeatProgress =
    "Using pre-recorded file, Sent %lld of %lldKB, repetition %llu\r";

// On standard error, once a console that took nothing for a while takes text again: the
// stream ("standard output") and how many of its lines were lost meanwhile.
inline constexpr const char* kConsoleLinesLost =
    "iqfeeder: %s: %llu lines lost while the console took none\n";

// The device an option chose (--device, --serial, --list), and --reconnect's search for it.
inline constexpr const char* kUsingDeviceNamed = "Using device %i: %s\n";  // and its description
inline constexpr const char* kUsingDevice = "Using device %i\n";           // not in the listing
inline constexpr const char* kDeviceTableRow = "%u: serial \"%s\", description \"%s\"\n";
inline constexpr const char* kWaitingForDevice = "Waiting for the FTDI device.....\n";
inline constexpr const char* kDeviceLost = "FTDI device lost, looking for it.....\n";
inline constexpr const char* kDeviceBack = "FTDI device back, streaming on.\n";
inline constexpr const char* kDeviceFound = "FTDI device found, streaming.\n";

// --live: the wait for a live file to grow (or to be created) before the first pass.
inline constexpr const char* kLiveShrank = "Input file %s shrank: waiting for it to grow.....\n";
inline constexpr const char* kLiveWaitingToGrow = "Waiting for %s to grow.....\n";
inline constexpr const char* kLiveWaitingToBeCreated = "Waiting for %s to be created.....\n";

}  // namespace iqfeeder::lines
