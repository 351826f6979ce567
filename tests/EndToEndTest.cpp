// The real program as a child process, with the stand-in for the maker's library found through
// LD_LIBRARY_PATH: proves the run-time loader and the call ABI on this platform.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::readFile;
using testing::runChild;
using testing::TempDir;
using testing::writeFile;

const std::string kProgram = IQFEEDER_PROGRAM;
const std::string kFakeLibraryDir = FAKE_FTD2XX_DIR;
const std::string kIncompleteLibraryDir = FAKE_FTD2XX_INCOMPLETE_DIR;

std::string recordedRun(const std::string& path, const std::string& perPass) {
    return "Input file is " + path + "\nSending IQ data to FTDI USB device.....\n\n" +
           "Checking if it's a recorded file or live stream.....\n" +
           "Using pre-recorded file, Sent 0 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 32 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 64 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n";
}

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = dir_.file("recording 70k.iq");
        writeFile(input_, patternBytes(70000));
    }
    std::map<std::string, std::string> environment(const std::string& libraryDir) const {
        return {{"LD_LIBRARY_PATH", libraryDir},
                {"FAKE_FTD2XX_CAPTURE", capture_},
                {"FAKE_FTD2XX_LOG", log_},
                {"FAKE_FTD2XX_DEVICES", "3"}};
    }

    std::string calls() const {
        const auto bytes = readFile(log_);
        return {bytes.begin(), bytes.end()};
    }

    TempDir dir_;
    std::string input_;
    std::string capture_ = dir_.file("device.bin");
    std::string log_ = dir_.file("calls.log");
};

TEST_F(EndToEndTest, RecordingReachesTheDeviceThroughTheLoadedLibrary) {
    const auto result = runChild({kProgram, input_}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n" +
                              recordedRun(input_, ""));
    auto expected = patternBytes(70000);
    expected.resize(96000, 0);
    EXPECT_EQ(readFile(capture_), expected);
    EXPECT_EQ(calls(), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
}

TEST_F(EndToEndTest, LibraryLackingACallCountsAsAbsent) {
    const auto result = runChild({kProgram, input_}, environment(kIncompleteLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "iqfeeder: libftd2xx.so lacks FT_Close\n");
    EXPECT_EQ(result.out, kNoDeviceLines + recordedRun(input_, "FT_W32_WriteFile Failed\n"));
    EXPECT_TRUE(readFile(log_).empty());
}

TEST_F(EndToEndTest, WithoutAnyLibraryTheRunStillSendsToTheEnd) {
    const auto result = runChild({kProgram, input_}, {{"LD_LIBRARY_PATH", dir_.file("none")}});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");  // not installed is no fault
    EXPECT_EQ(result.out, kNoDeviceLines + recordedRun(input_, "FT_W32_WriteFile Failed\n"));
}

TEST_F(EndToEndTest, NoArgumentPrintsUsageAndTouchesNoDevice) {
    const auto result = runChild({kProgram}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: iqfeeder FILE\n");
    EXPECT_TRUE(readFile(log_).empty());
}

TEST_F(EndToEndTest, MissingInputExitsWithStatusOneAfterClosingTheDevice) {
    const std::string missing = dir_.file("missing.iq");
    const auto result = runChild({kProgram, missing}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.out.ends_with("Error opening " + missing + ", Check file exists!\n"));
    EXPECT_TRUE(calls().ends_with("FT_Open 0\nFT_Close\n"));
}

}  // namespace
}  // namespace iqfeeder
