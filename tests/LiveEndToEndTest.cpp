// The real program following a live file in real time: a producer process appends at a steady
// rate, the stand-in library drains at another, and the run is stopped with Ctrl-C on its
// terminal, as an operator stops it. The console and every byte the device took are then
// checked against the position rules.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <regex>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/FileProducer.h"
#include "tests/support/LiveRunAudit.h"
#include "tests/support/PtyChild.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using namespace std::chrono_literals;
using testing::countOf;
using testing::kJumpedLines;
using testing::kOvertakenLines;
using testing::patternBytes;
using testing::readFile;

const std::string kProgram = IQFEEDER_PROGRAM;
const std::string kFakeLibraryDir = FAKE_FTD2XX_DIR;

// How long a case waits for the program to get somewhere, or to end, before failing rather than
// hanging: no measurement, so long that a loaded machine or memcheck stays well inside it.
constexpr auto kHangGuard = 90s;

// The device drains 32000 bytes in 200 ms.
constexpr std::uint64_t kDeviceBytesPerSecond = 160000;

struct RealTimeCase {
    const char* name;
    std::uint64_t producerBytesPerSecond;
    const std::string* stopAfter;  // the line to see twice before stopping the run
    bool producerFaster;
};

void PrintTo(const RealTimeCase& c, std::ostream* out) {
    *out << c.name;
}

class LiveEndToEndTest : public ::testing::TestWithParam<RealTimeCase> {
  protected:
    testing::TempDir dir_;
};

TEST_P(LiveEndToEndTest, FollowsTheGrowingFileUntilInterrupted) {
    const RealTimeCase& c = GetParam();
    const std::string input = dir_.file("live stream.iq");
    const std::string capture = dir_.file("device.bin");
    const std::string log = dir_.file("calls.log");
    testing::writeFile(input, patternBytes(200000));

    const std::string errors = dir_.file("stderr.txt");
    testing::FileProducer producer(input, c.producerBytesPerSecond);
    testing::PtyChild program(
        {kProgram, input},
        {{"LD_LIBRARY_PATH", kFakeLibraryDir},
         {"FAKE_FTD2XX_CAPTURE", capture},
         {"FAKE_FTD2XX_LOG", log},
         {"FAKE_FTD2XX_BYTES_PER_SECOND", std::to_string(kDeviceBytesPerSecond)}},
        errors);
    // Read as they are printed, or the run would never get here before the interrupt. A pass
    // prints its status line only once the pass before has sent its whole buffer, so wait for
    // the one after the second move too.
    const bool sawEnough = program.readUntil(
        [&c](const std::string& out) {
            std::size_t at = out.find(*c.stopAfter);
            at = at == std::string::npos ? at : out.find(*c.stopAfter, at + 1);
            return at != std::string::npos && countOf(out.substr(at), "ms\r") >= 2;
        },
        kHangGuard);
    program.interrupt();
    const int waitStatus = program.waitForEnd(kHangGuard);
    producer.stop();
    ASSERT_TRUE(sawEnough) << program.output();

    // Ended by the interrupt as before, but with the device closed and the summary, whose
    // byte count is what the device took, on standard error alone.
    EXPECT_TRUE(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGINT) << waitStatus;
    const auto calls = readFile(log);
    EXPECT_EQ(std::string(calls.begin(), calls.end()),
              "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
    const auto summary = readFile(errors);
    std::smatch figures;
    const std::string summaryText(summary.begin(), summary.end());
    ASSERT_TRUE(std::regex_match(
        summaryText, figures,
        std::regex("iqfeeder: ([0-9]+) bytes sent to the device in [0-9]+\\.[0-9] s "
                   "\\([0-9.]+ [kM]?B/s\\), 0 failed writes, 0 short writes\n")))
        << summaryText;
    EXPECT_EQ(figures[1].str(), std::to_string(readFile(capture).size()));

    const std::string start = "\nDevices connected:\n0: Fake Transmitter 0\n\nInput file is " +
                              input +
                              "\nSending IQ data to FTDI USB device.....\n\n"
                              "Checking if it's a recorded file or live stream.....\n";
    // Audited as printed, apart from the blanks a terminal gets to cover a longer old line.
    const std::string out = testing::withoutPadding(program.output());
    ASSERT_TRUE(out.starts_with(start)) << out;
    // What the operator sees: every status line whole, with nothing of a longer one left on it.
    const std::regex statusOnScreen("Status: Size of pipe file is: [0-9]+ KBytes, Delay: [0-9]+ms");
    for (const std::string& line : testing::screenLines(program.output())) {
        if (line.starts_with("Status")) {
            EXPECT_TRUE(std::regex_match(line, statusOnScreen)) << line;
        }
    }
    // The producer wrote nothing but pattern bytes, which the audit relies on.
    const auto file = readFile(input);
    ASSERT_EQ(testing::patternPrefixLength(file), file.size());

    const testing::LiveRunAudit audit =
        testing::auditLiveRun(std::string_view(out).substr(start.size()), readFile(capture));
    EXPECT_EQ(audit.problems, std::vector<std::string>{}) << out;
    if (c.producerFaster) {
        EXPECT_GE(audit.jumps, 2U);
        EXPECT_GT(audit.bytesDropped, 0U);
        EXPECT_EQ(audit.overtakings, 0U);
        EXPECT_EQ(audit.raises, 0U);
    } else {
        EXPECT_GE(audit.overtakings, 2U);
        EXPECT_EQ(audit.raises, 1U);
        EXPECT_GT(audit.shortReads, 0U);
        EXPECT_EQ(audit.jumps, 0U);
    }
    std::printf(
        "%zu passes checked: %zu overtakings, %zu jumps, %zu short reads, %llu bytes "
        "dropped\n",
        audit.passes, audit.overtakings, audit.jumps, audit.shortReads,
        static_cast<unsigned long long>(audit.bytesDropped));
}

INSTANTIATE_TEST_SUITE_P(
    RealTime, LiveEndToEndTest,
    ::testing::Values(
        // Four times the device's rate: the backlog passes 200000 bytes
        // every few passes and the reader jumps ahead.
        RealTimeCase{"ProducerFaster", 4 * kDeviceBytesPerSecond, &kJumpedLines, true},
        // A quarter of it: the reader keeps overtaking the end.
        RealTimeCase{"ProducerSlower", kDeviceBytesPerSecond / 4, &kOvertakenLines, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A recording with no device, on a terminal: each failure line and the last line cover the
// progress line they are printed over.
TEST(TerminalTest, ShowsEveryLineWholeWithNothingLeftOfTheLineItOverwrote) {
    testing::TempDir dir;
    const std::string input = dir.file("recording.iq");
    testing::writeFile(input, patternBytes(70000));
    testing::PtyChild program({kProgram, "--driver=none", input}, {});
    ASSERT_GE(program.waitForEnd(20s), 0);
    EXPECT_EQ(testing::screenLines(program.output()),
              (std::vector<std::string>{
                  "Failed to find any FTDI devices.....!", "Please exit.............",
                  "Can't open FTDI Device.", "Input file is " + input,
                  "Sending IQ data to FTDI USB device.....", "",
                  "Checking if it's a recorded file or live stream.....", "FT_W32_WriteFile Failed",
                  "FT_W32_WriteFile Failed", "FT_W32_WriteFile Failed", "File sent.", ""}));
}

// A device that never takes the slice: the stop can't wait for it, and the second deadline
// ends the process by the same signal.
TEST(StopTest, CtrlCEndsARunStuckInAWriteWithinTheDeadline) {
    testing::TempDir dir;
    const std::string input = dir.file("recording.iq");
    const std::string log = dir.file("calls.log");
    testing::writeFile(input, patternBytes(70000));
    testing::PtyChild program({kProgram, input}, {{"LD_LIBRARY_PATH", kFakeLibraryDir},
                                                  {"FAKE_FTD2XX_LOG", log},
                                                  {"FAKE_FTD2XX_BYTES_PER_SECOND", "1"}});
    ASSERT_TRUE(program.readUntil(
        [](const std::string& out) { return out.ends_with(testing::progressLine(0, 70)); },
        kHangGuard))
        << program.output();
    std::this_thread::sleep_for(100ms);  // into the first write

    const auto interrupted = std::chrono::steady_clock::now();
    program.interrupt();
    const int waitStatus = program.waitForEnd(kHangGuard);
    const auto took = std::chrono::steady_clock::now() - interrupted;

    EXPECT_TRUE(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGINT) << waitStatus;
    // The deadline is real time, so this is too: the stop waits the deadline's 2 s for the
    // slice, never less, and then ends the run. Without the deadline the run would not end for
    // the best part of a day (the device takes a byte a second), so any bound far below that
    // shows the deadline ended it; a minute leaves a loaded machine all the room it needs.
    EXPECT_GE(took, 1500ms);
    EXPECT_LE(took, 60s);
    const auto calls = readFile(log);
    EXPECT_EQ(std::string(calls.begin(), calls.end()),
              "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\n");
}

// The same with standard output in a log file, as a service has it: every line printed before
// the hang is in the file, the summary, with nothing taken, on standard error, and the service
// manager told that it is stopping, though the run never comes back from the write.
TEST(StopTest, RunStuckInAWriteLeavesItsLogWholeAndItsSummary) {
    testing::TempDir dir;
    const std::string input = dir.file("recording.iq");
    testing::writeFile(input, patternBytes(70000));
    const std::string socketPath = dir.file("notify");
    const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(manager, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    testing::ChildOptions options;
    options.stdoutFile = dir.file("out.txt");
    options.stopAfterMs = 3500;  // past the probe's 2 s, into the first write
    const auto result = testing::runChild({kProgram, input},
                                          {{"LD_LIBRARY_PATH", kFakeLibraryDir},
                                           {"FAKE_FTD2XX_BYTES_PER_SECOND", "1"},
                                           {"NOTIFY_SOCKET", socketPath}},
                                          options);
    std::vector<std::string> heard;
    char message[256];
    for (ssize_t got; (got = ::recv(manager, message, sizeof message, MSG_DONTWAIT)) > 0;) {
        heard.emplace_back(message, static_cast<std::size_t>(got));
    }
    ::close(manager);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), "READY=1");
    EXPECT_EQ(heard.back(), "STOPPING=1");

    EXPECT_EQ(result.signal, SIGTERM);
    const auto out = readFile(options.stdoutFile);
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "\nDevices connected:\n0: Fake Transmitter 0\n\nInput file is " + input +
                  "\nSending IQ data to FTDI USB device.....\n\n" + testing::kProbeLine +
                  testing::progressLine(0, 70));
    EXPECT_TRUE(
        std::regex_match(result.err, std::regex("iqfeeder: 0 bytes sent to the device in [0-9.]+ s "
                                                "\\(0 B/s\\), 0 failed writes, 0 short writes\n")))
        << result.err;
}

}  // namespace
}  // namespace iqfeeder
