// Every fixed line of common/ConsoleLines.h, printed through the console with sample values and
// read as one transcript spelled out here: a change to any line fails, and so does a line added
// to the header without being added here.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/Console.h"
#include "common/ConsoleLines.h"

namespace iqfeeder {
namespace {

using Print = std::function<void(Console&)>;

// In the header's order, one for each line.
const std::vector<Print> kEveryLine{
    [](Console& c) { c.print(lines::kNoDevices); },
    [](Console& c) { c.print(lines::kPleaseExit); },
    [](Console& c) { c.print(lines::kDevicesConnected); },
    [](Console& c) { c.print(lines::kFirstDevice, "Transmitter A"); },
    [](Console& c) { c.print(lines::kSecondDevice, "Transmitter B"); },
    [](Console& c) { c.print(lines::kDevicesEnd); },
    [](Console& c) { c.print(lines::kCantOpenDevice); },
    [](Console& c) { c.print(lines::kInputFileIs, "/srv/iq/a.iq"); },
    [](Console& c) { c.print(lines::kSending); },
    [](Console& c) { c.print(lines::kProbing); },
    [](Console& c) { c.print(lines::kRecordedProgress, 32LL, 70LL); },
    [](Console& c) { c.print(lines::kFileSent); },
    [](Console& c) { c.print(lines::kLiveStatus, 1234LL, 250LL); },
    [](Console& c) { c.print(lines::kOvertaken); },
    [](Console& c) { c.print(lines::kBufferRaised, 64000); },
    [](Console& c) { c.print(lines::kTooFarBehind); },
    [](Console& c) { c.print(lines::kWaitingForWriter, "/run/iq.fifo"); },
    [](Console& c) { c.print(lines::kStreamProgress, 96LL); },
    [](Console& c) { c.print(lines::kStreamEnded, 98304LL); },
    [](Console& c) { c.print(lines::kConnecting, "tcp://encoder:5000"); },
    [](Console& c) { c.print(lines::kWaitingForSender, "udp://[::]:5000"); },
    [](Console& c) { c.print(lines::kSenderConnected, "192.0.2.7:40000"); },
    [](Console& c) { c.print(lines::kNetworkProgress, 64LL); },
    [](Console& c) { c.print(lines::kSenderEnded, "192.0.2.7:40000", 64000ULL); },
    [](Console& c) { c.print(lines::kSenderLost, "192.0.2.7:40000", 32000ULL); },
    [](Console& c) { c.print(lines::kConnectionRefused, "tcp://encoder:5000"); },
    [](Console& c) { c.print(lines::kCannotConnect, "tcp://encoder:5000"); },
    [](Console& c) { c.print(lines::kCantReceive, "udp://[::]:5000"); },
    [](Console& c) { c.print(lines::kCantOpenInput, "b.iq"); },
    [](Console& c) { c.print(lines::kNotRegularFile, "/dev/null"); },
    [](Console& c) { c.print(lines::kCantReadInput, "c.iq"); },
    [](Console& c) { c.print(lines::kWriteFailed); },
    [](Console& c) { c.print(lines::kWriteTimedOut); },
    [](Console& c) { c.print(lines::kRepeatProgressOf, 32LL, 70LL, 2ULL, 5ULL); },
    [](Console& c) { c.print(lines::kRepeatProgress, 64LL, 70LL, 3ULL); },
    [](Console& c) { c.print(lines::kConsoleLinesLost, "standard output", 205ULL); },
    [](Console& c) { c.print(lines::kUsingDeviceNamed, 2, "Transmitter C"); },
    [](Console& c) { c.print(lines::kUsingDevice, 5); },
    [](Console& c) { c.print(lines::kDeviceTableRow, 1U, "FAKE0001", "Transmitter B"); },
    [](Console& c) { c.print(lines::kWaitingForDevice); },
    [](Console& c) { c.print(lines::kDeviceLost); },
    [](Console& c) { c.print(lines::kDeviceBack); },
    [](Console& c) { c.print(lines::kDeviceFound); },
    [](Console& c) { c.print(lines::kLiveShrank, "live.iq"); },
    [](Console& c) { c.print(lines::kLiveWaitingToGrow, "live.iq"); },
    [](Console& c) { c.print(lines::kLiveWaitingToBeCreated, "live.iq"); },
};

const char* const kTranscript =
    "Failed to find any FTDI devices.....!\n"
    "Please exit.............\n"
    "\nDevices connected:\n"
    "0: Transmitter A\n"
    "1: Transmitter B\n"
    "\n"
    "Can't open FTDI Device.\n"
    "Input file is /srv/iq/a.iq\n"
    "Sending IQ data to FTDI USB device.....\n\n"
    "Checking if it's a recorded file or live stream.....\n"
    "Using pre-recorded file, Sent 32 of 70KB\r"
    "File sent.\n"
    "Status: Size of pipe file is: 1234 KBytes, Delay: 250ms\r"
    "\nInput stream bitrate not high enough\n"
    "Increasing buffer to 64000Bytes\n"
    "\nDelay too high, re-started buffer..\n"
    "Waiting for a writer on /run/iq.fifo.....\n"
    "Using input stream, Read 96KB\r"
    "Input stream ended after 98304 bytes.\n"
    "Connecting to tcp://encoder:5000.....\n"
    "Waiting for a sender on udp://[::]:5000.....\n"
    "Sender 192.0.2.7:40000 connected.\n"
    "Using network input, Read 64KB\r"
    "Sender 192.0.2.7:40000 ended after 64000 bytes.\n"
    "Connection to sender 192.0.2.7:40000 lost after 32000 bytes!\n"
    "Connection to tcp://encoder:5000 refused, trying again every second.....\n"
    "Cannot connect to tcp://encoder:5000, trying again every second.....\n"
    "Cannot receive on udp://[::]:5000!\n"
    "Error opening b.iq, Check file exists!\n"
    "Error opening /dev/null, not a regular file!\n"
    "Error reading c.iq!\n"
    "FT_W32_WriteFile Failed\n"
    "FT_W32_WriteFile TimeOut\n"
    "Using pre-recorded file, Sent 32 of 70KB, repetition 2 of 5\r"
    "Using pre-recorded file, Sent 64 of 70KB, repetition 3\r"
    "iqfeeder: standard output: 205 lines lost while the console took none\n"
    "Using device 2: Transmitter C\n"
    "Using device 5\n"
    "1: serial \"FAKE0001\", description \"Transmitter B\"\n"
    "Waiting for the FTDI device.....\n"
    "FTDI device lost, looking for it.....\n"
    "FTDI device back, streaming on.\n"
    "FTDI device found, streaming.\n"
    "Input file live.iq shrank: waiting for it to grow.....\n"
    "Waiting for live.iq to grow.....\n"
    "Waiting for live.iq to be created.....\n";

TEST(ConsoleLinesTest, EveryFixedLineReadsAsOperatorsKnowIt) {
    std::ostringstream out;
    Console console(out);
    for (const Print& print : kEveryLine) {
        print(console);
    }
    EXPECT_EQ(out.str(), kTranscript);
}

TEST(ConsoleLinesTest, TheTranscriptHasEveryLineOfTheHeader) {
    std::ifstream header(IQFEEDER_CONSOLE_LINES_HEADER);
    ASSERT_TRUE(header) << IQFEEDER_CONSOLE_LINES_HEADER;
    const std::string text{std::istreambuf_iterator<char>(header), {}};
    std::size_t declared = 0;
    const std::string declaration = "inline constexpr const char* k";
    for (auto at = text.find(declaration); at != std::string::npos;
         at = text.find(declaration, at + 1)) {
        ++declared;
    }
    EXPECT_EQ(declared, kEveryLine.size()) << "a line of the header is missing from the transcript";
}

}  // namespace
}  // namespace iqfeeder
