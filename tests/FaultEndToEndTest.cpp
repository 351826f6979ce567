// Bad input and device faults met by the real program, with the stand-in library steered into
// each fault: the exact console, the exit status, the library calls and every byte the device
// took.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/Segment.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::bytesOf;
using testing::fileBytes;
using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::readFile;
using testing::runChild;
using testing::TempDir;
using testing::writeFile;
using testing::zeros;

const std::string kProgram = IQFEEDER_PROGRAM;
const std::string kFakeLibraryDir = FAKE_FTD2XX_DIR;

const std::string kListed = "\nDevices connected:\n0: Fake Transmitter 0\n\n";
const std::string kFailed = "FT_W32_WriteFile Failed\n";
const std::string kTimeOut = "FT_W32_WriteFile TimeOut\n";
const std::string kFullLog = "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n";

std::string started(const std::string& path) {
    return "Input file is " + path + "\nSending IQ data to FTDI USB device.....\n\n";
}
std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

class FaultEndToEndTest : public ::testing::Test {
  protected:
    testing::ChildResult run(const std::string& input,
                             std::map<std::string, std::string> environment = {},
                             const testing::ChildOptions& options = testing::ChildOptions{}) {
        environment.emplace("LD_LIBRARY_PATH", libraryDir_);
        environment.emplace("FAKE_FTD2XX_CAPTURE", capture_);
        environment.emplace("FAKE_FTD2XX_LOG", log_);
        return runChild({program_, input}, environment, options);
    }
    std::string calls() const {
        const auto bytes = readFile(log_);
        return {bytes.begin(), bytes.end()};
    }
    std::vector<std::uint8_t> deviceBytes() const { return readFile(capture_); }

    TempDir dir_;
    std::string capture_ = dir_.file("device.bin");
    std::string log_ = dir_.file("calls.log");
    std::string program_ = kProgram;
    std::string libraryDir_ = kFakeLibraryDir;
};

// A 70000-byte recording: passes at 0, 32000 and 64000 (write indexes 0-4, 5-9, 10-14), then
// the pass that reports it sent.
struct DeviceFaultCase {
    const char* name;
    std::map<std::string, std::string> environment;
    std::string listing;                  // what the device set-up prints
    std::vector<std::string> passOutput;  // after each pass's progress line
    std::vector<std::uint8_t> sent;
    std::string calls;
};
void PrintTo(const DeviceFaultCase& c, std::ostream* out) {
    *out << c.name;
}

class DeviceFaultTest : public FaultEndToEndTest,
                        public ::testing::WithParamInterface<DeviceFaultCase> {};

TEST_P(DeviceFaultTest, RecordingIsStillSentToTheEndWithEachFaultReported) {
    const DeviceFaultCase& c = GetParam();
    const std::string input = dir_.file("recording.iq");
    writeFile(input, patternBytes(70000));

    const auto result = run(input, c.environment);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    std::string expected =
        c.listing + started(input) + "Checking if it's a recorded file or live stream.....\n";
    for (std::size_t pass = 0; pass < 3; ++pass) {
        expected += "Using pre-recorded file, Sent " + std::to_string(32 * pass) + " of 70KB\r" +
                    c.passOutput[pass];
    }
    expected += "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n";
    EXPECT_EQ(result.out, expected);
    EXPECT_TRUE(deviceBytes() == c.sent) << "device bytes differ: " << deviceBytes().size();
    EXPECT_EQ(calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Device, DeviceFaultTest,
    ::testing::Values(
        DeviceFaultCase{"ListingFails",
                        {{"FAKE_FTD2XX_LIST_STATUS", "4"}},
                        kNoDeviceLines,
                        {kFailed, kFailed, kFailed},
                        {},
                        "FT_ListDevices failed\n"},
        DeviceFaultCase{"NoDevice",
                        {{"FAKE_FTD2XX_DEVICES", "0"}},
                        kNoDeviceLines,
                        {kFailed, kFailed, kFailed},
                        {},
                        "FT_ListDevices count\n"},
        DeviceFaultCase{"OpenFails",
                        {{"FAKE_FTD2XX_OPEN_STATUS", "3"}},
                        kListed + "Can't open FTDI Device.\n",
                        {kFailed, kFailed, kFailed},
                        {},
                        "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\n"},
        // The second slice of the second buffer fails: three slices are lost, the third buffer
        // goes out whole.
        DeviceFaultCase{"WriteFailsOnceThenWorks",
                        {{"FAKE_FTD2XX_FAIL_WRITE_AT", "6"}},
                        kListed,
                        {"", kFailed, ""},
                        bytesOf({fileBytes(0, 38400), fileBytes(64000, 70000), zeros(26000)}),
                        kFullLog},
        // Unplugged part way through the second buffer: every later write fails, once per
        // buffer, and the run still ends as usual.
        DeviceFaultCase{"EveryWriteFailsFromSomePointOn",
                        {{"FAKE_FTD2XX_FAIL_WRITES_FROM", "7"}},
                        kListed,
                        {"", kFailed, kFailed},
                        patternBytes(44800),
                        kFullLog},
        // A slice taken short is said once, and its rest goes next: the recording arrives
        // whole and in order.
        DeviceFaultCase{"EveryWriteShort",
                        {{"FAKE_FTD2XX_ACCEPT_BYTES", "1000"}},
                        kListed,
                        {repeated(kTimeOut, 5), repeated(kTimeOut, 5), repeated(kTimeOut, 5)},
                        bytesOf({fileBytes(0, 70000), zeros(26000)}),
                        kFullLog},
        DeviceFaultCase{"EveryWriteOneByteShort",
                        {{"FAKE_FTD2XX_SHORT_BY", "1"}},
                        kListed,
                        {repeated(kTimeOut, 5), repeated(kTimeOut, 5), repeated(kTimeOut, 5)},
                        bytesOf({fileBytes(0, 70000), zeros(26000)}),
                        kFullLog}),
    [](const auto& info) { return std::string(info.param.name); });

// Maker's libraries that are there but can't be used, each with its reason on standard error:
// stand-ins each lacking one of the four calls, a file that is no library, and a stand-in whose
// own dependency is missing. All are treated as no library at all.
struct UnusableLibraryCase {
    const char* name;
    std::function<std::string(const TempDir&)> libraryDir;
    std::function<std::string(const std::string& libraryDir)> err;
};
void PrintTo(const UnusableLibraryCase& c, std::ostream* out) {
    *out << c.name;
}

class UnusableLibraryTest : public FaultEndToEndTest,
                            public ::testing::WithParamInterface<UnusableLibraryCase> {};

TEST_P(UnusableLibraryTest, CountsAsAbsentAndSaysWhy) {
    const std::string input = dir_.file("recording.iq");
    writeFile(input, patternBytes(1000));
    // The maker's library by name, so that no fallback to libftdi1 reaches a real device.
    const std::string libraryDir = GetParam().libraryDir(dir_);
    const auto result =
        runChild({kProgram, "--driver=maker", input}, {{"LD_LIBRARY_PATH", libraryDir},
                                                       {"FAKE_FTD2XX_LOG", log_},
                                                       {"FAKE_FTD2XX_CAPTURE", capture_}});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, kNoDeviceLines + started(input) +
                              "Checking if it's a recorded file or live stream.....\n"
                              "Using pre-recorded file, Sent 0 of 1KB\r" +
                              kFailed + "Using pre-recorded file, Sent 32 of 1KB\rFile sent.\n");
    EXPECT_EQ(result.err, GetParam().err(libraryDir));
    EXPECT_EQ(calls(), "");
    EXPECT_TRUE(deviceBytes().empty());
}

UnusableLibraryCase lacking(const char* call) {
    return {call,
            [call](const TempDir&) {
                return std::string(FAKE_FTD2XX_WITHOUT_DIR) + "/without_" + call;
            },
            [call](const std::string&) {
                return std::string("iqfeeder: libftd2xx.so lacks ") + call + "\n";
            }};
}

INSTANTIATE_TEST_SUITE_P(
    Library, UnusableLibraryTest,
    ::testing::Values(
        lacking("FT_ListDevices"), lacking("FT_Open"), lacking("FT_Write"), lacking("FT_Close"),
        UnusableLibraryCase{"NotALibrary",
                            [](const TempDir& d) {
                                writeFile(d.file("libftd2xx.so"), patternBytes(4096));
                                return d.path().string();
                            },
                            [](const std::string& dir) {
                                return "iqfeeder: libftd2xx.so: " + dir +
                                       "/libftd2xx.so: invalid ELF header\n";
                            }},
        UnusableLibraryCase{
            "DependencyMissing",
            [](const TempDir&) { return std::string(FAKE_FTD2XX_NEEDING_DIR); },
            [](const std::string&) {
                return std::string(
                    "iqfeeder: libftd2xx.so: libiqfeeder_absent_dependency.so: cannot open "
                    "shared object file: No such file or directory\n");
            }}),
    [](const auto& info) { return std::string(info.param.name); });

// Input the program refuses before sending anything: the fixed line, status 1, the device
// closed again and nothing written.
struct RefusedCase {
    const char* name;
    std::function<std::string(const TempDir&)> makePath;
    const char* reason;
    std::string why = "";  // the system's reason, on standard error
};
void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedInputTest : public FaultEndToEndTest,
                         public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedInputTest, EndsWithStatusOneAndNothingSent) {
    const std::string path = GetParam().makePath(dir_);
    const auto result = run(path);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out,
              kListed + started(path) + "Error opening " + path + ", " + GetParam().reason + "\n");
    EXPECT_EQ(result.err,
              GetParam().why.empty() ? "" : "iqfeeder: " + path + ": " + GetParam().why + "\n");
    EXPECT_EQ(calls(), kFullLog);
    EXPECT_TRUE(deviceBytes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Input, RefusedInputTest,
    ::testing::Values(RefusedCase{"Missing", [](const TempDir& d) { return d.file("missing.iq"); },
                                  "Check file exists!", "No such file or directory"},
                      RefusedCase{"Directory", [](const TempDir& d) { return d.path().string(); },
                                  "not a regular file!"},
                      RefusedCase{"DeviceNode",
                                  [](const TempDir&) { return std::string("/dev/zero"); },
                                  "not a regular file!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultEndToEndTest, UnreadableFileIsRefusedLikeAMissingOne) {
    if (::geteuid() != 0) {
        // As ourselves, with the file's read permission taken away.
        const std::string path = dir_.file("unreadable.iq");
        writeFile(path, patternBytes(1000));
        ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
        if (::access(path.c_str(), R_OK) == 0) {
            GTEST_SKIP() << "this user reads files without read permission";
        }
        const auto result = run(path);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out,
                  kListed + started(path) + "Error opening " + path + ", Check file exists!\n");
        EXPECT_EQ(result.err, "iqfeeder: " + path + ": Permission denied\n");
        EXPECT_TRUE(deviceBytes().empty());
        return;
    }
    // Root reads anything: run the program as "nobody", who lacks the permission.
    const uid_t nobody = 65534;
    const std::string path = dir_.file("unreadable.iq");
    writeFile(path, patternBytes(1000));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    // Whatever the umask made of it, nobody may enter the folder: only the file is denied.
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    for (const std::string& shared : {capture_, log_}) {
        writeFile(shared, {});
        ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
    }
    testing::ChildOptions asNobody;
    asNobody.user = nobody;
    // The build folder may sit where nobody can't go (a private temporary folder): run copies of
    // the program and the stand-in library from the test's own folder.
    const std::string bin = dir_.file("bin");
    ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
    program_ = bin + "/iqfeeder";
    libraryDir_ = bin;
    for (const auto& [from, to] :
         {std::pair{kProgram, program_},
          std::pair{kFakeLibraryDir + "/libftd2xx.so", bin + "/libftd2xx.so"}}) {
        writeFile(to, readFile(from));
        ASSERT_EQ(::chmod(to.c_str(), 0755), 0);
    }
    // Without an argument the program only prints its usage (status 2).
    const auto probe = runChild({program_}, {}, asNobody);
    if (probe.exitStatus != 2) {
        GTEST_SKIP() << "cannot run the program as nobody (uid 65534) here";
    }

    const auto result = run(path, {}, asNobody);

    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out,
              kListed + started(path) + "Error opening " + path + ", Check file exists!\n");
    EXPECT_EQ(result.err, "iqfeeder: " + path + ": Permission denied\n");
    EXPECT_EQ(calls(), kFullLog);
    EXPECT_TRUE(deviceBytes().empty());
}

// The console going wrong never touches the transmission: the device gets the whole recording,
// the run ends as usual, and a failed standard output is said once on standard error.
struct ConsoleFaultCase {
    const char* name;
    std::size_t length;
    std::function<void(testing::ChildOptions&)> setUp;
    std::map<std::string, std::string> environment;
    std::string err;
};
void PrintTo(const ConsoleFaultCase& c, std::ostream* out) {
    *out << c.name;
}

class ConsoleFaultTest : public FaultEndToEndTest,
                         public ::testing::WithParamInterface<ConsoleFaultCase> {};

TEST_P(ConsoleFaultTest, DeviceStillGetsEveryByte) {
    const ConsoleFaultCase& c = GetParam();
    const std::string input = dir_.file("recording.iq");
    writeFile(input, patternBytes(c.length));
    testing::ChildOptions options;
    c.setUp(options);

    const auto result = run(input, c.environment, options);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(calls(), kFullLog);  // and nothing of the console in the driver's own file
    const std::size_t buffers = c.length / 32000 + 1;
    EXPECT_TRUE(deviceBytes() ==
                bytesOf({fileBytes(0, c.length), zeros(buffers * 32000 - c.length)}))
        << deviceBytes().size();
}

std::string dropped(const std::string& reason) {
    return "iqfeeder: standard output: " + reason +
           "; console output is dropped from here on, the transmission goes on\n";
}

INSTANTIATE_TEST_SUITE_P(
    Console, ConsoleFaultTest,
    ::testing::Values(
        // As `| head -c 10`: the reader goes once the first block of output came, long before
        // the run ends (some 16 kB of progress lines, at 32 MB/s on the device).
        ConsoleFaultCase{"ReaderGoneAfterTenBytes",
                         12000000,
                         [](testing::ChildOptions& o) { o.stdoutReadLimit = 10; },
                         {{"FAKE_FTD2XX_BYTES_PER_SECOND", "32000000"}},
                         dropped("Broken pipe")},
        ConsoleFaultCase{"FullDisk",
                         70000,
                         [](testing::ChildOptions& o) { o.stdoutFile = "/dev/full"; },
                         {},
                         dropped("No space left on device")},
        // As `>&-`: a driver that opens a log file of its own must not get descriptor 1.
        ConsoleFaultCase{"StandardOutputClosed",
                         70000,
                         [](testing::ChildOptions& o) { o.stdoutClosed = true; },
                         {{"FAKE_FTD2XX_HOLD_LOG", "1"}},
                         ""}),
    [](const auto& info) { return std::string(info.param.name); });

// With --reconnect, a transmitter unplugged part way through the second buffer and back a
// second later: the loss and the return are said once each, the recording waits for it, and
// the slices it did not take go out first, so the device misses nothing of it.
TEST_F(FaultEndToEndTest, ReconnectWaitsForAnUnpluggedDeviceAndSkipsNothingOfTheRecording) {
    const std::string input = dir_.file("recording.iq");
    writeFile(input, patternBytes(70000));
    program_ = kProgram;
    const auto result =
        runChild({program_, "--reconnect", input}, {{"LD_LIBRARY_PATH", libraryDir_},
                                                    {"FAKE_FTD2XX_CAPTURE", capture_},
                                                    {"FAKE_FTD2XX_LOG", log_},
                                                    {"FAKE_FTD2XX_UNPLUG_AT_WRITE", "7"},
                                                    {"FAKE_FTD2XX_UNPLUGGED_MS", "1000"}});

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, kListed + started(input) +
                              "Checking if it's a recorded file or live stream.....\n"
                              "Using pre-recorded file, Sent 0 of 70KB\r"
                              "Using pre-recorded file, Sent 32 of 70KB\r"
                              "FTDI device lost, looking for it.....\n"
                              "FTDI device back, streaming on.\n"
                              "Using pre-recorded file, Sent 64 of 70KB\r"
                              "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n");
    EXPECT_TRUE(deviceBytes() == bytesOf({fileBytes(0, 70000), zeros(26000)}))
        << deviceBytes().size();
    // Found again by the serial number listed before the open; never asked of an open device.
    // Each open of an unattended run sets a write time-out, so a chip that stops taking data
    // can't hold it.
    const std::string log = calls();
    EXPECT_TRUE(
        log.starts_with("FT_ListDevices count\nFT_ListDevices all\nFT_ListDevices serial 0\n"
                        "FT_Open 0\nFT_SetTimeouts 1000 1000\nFT_Close\nFT_ListDevices count\n"))
        << log;
    EXPECT_TRUE(
        log.ends_with("FT_ListDevices count\nFT_ListDevices all\nFT_ListDevices serial 0\n"
                      "FT_Open 0\nFT_SetTimeouts 1000 1000\nFT_Close\n"))
        << log;
    EXPECT_EQ(log.find("of an open device"), std::string::npos) << log;
}

TEST_F(FaultEndToEndTest, PathWithSpacesAndNonAsciiBytesIsUsedAndPrintedUnchanged) {
    // UTF-8 letters and a byte that is no UTF-8 at all.
    const std::string path = dir_.file(
        "live r\xc3\xa9"
        "cording \xe2\x82\xac \xff.iq");
    writeFile(path, patternBytes(40000));
    const auto result = run(path);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, kListed + started(path) +
                              "Checking if it's a recorded file or live stream.....\n"
                              "Using pre-recorded file, Sent 0 of 40KB\r"
                              "Using pre-recorded file, Sent 32 of 40KB\r"
                              "Using pre-recorded file, Sent 64 of 40KB\rFile sent.\n");
    EXPECT_TRUE(deviceBytes() == bytesOf({fileBytes(0, 40000), zeros(24000)}));
}

TEST_F(FaultEndToEndTest, SparseRecordingOver2GiBIsSentUpToThePositionCap) {
    const std::string path = dir_.file("sparse.iq");
    writeFile(path, patternBytes(1000));
    ASSERT_EQ(::truncate(path.c_str(), 2147483648LL + 4096), 0);
    // 500 MB would go to the device: count the write calls instead of keeping the bytes.
    const auto result = runChild({kProgram, path}, {{"LD_LIBRARY_PATH", kFakeLibraryDir},
                                                    {"FAKE_FTD2XX_LOG", log_},
                                                    {"FAKE_FTD2XX_FAIL_WRITE_AT", "78124"}});
    EXPECT_EQ(result.exitStatus, 0);
    const std::string& out = result.out;
    ASSERT_TRUE(out.starts_with(kListed + started(path) +
                                "Checking if it's a recorded file or live stream.....\n"
                                "Using pre-recorded file, Sent 0 of 2147483KB\r"));
    // The last of 15625 passes; its last write (the 78125th) is the one made to fail, which
    // shows every buffer went out in its five slices.
    EXPECT_TRUE(out.ends_with("Using pre-recorded file, Sent 499968 of 2147483KB\r" + kFailed))
        << out.substr(out.size() - 200);
    EXPECT_EQ(out.find("File sent."), std::string::npos);
    EXPECT_EQ(out.find(kFailed), out.size() - kFailed.size());
    EXPECT_EQ(calls(), kFullLog);
}

}  // namespace
}  // namespace iqfeeder
