// The maker's library as Windows loads it: a DLL found at run time by name, its four calls
// reached through GetProcAddress. The stand-in DLL is built from tests/fake_ftd2xx.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <sstream>

#include "device/DeviceLink.h"
#include "device/MakerLibraryDriver.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/TempDir.h"
#include "tests/windows/WindowsSupport.h"

namespace iqfeeder {
namespace {

namespace fs = std::filesystem;
using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::readFile;
using testing::TempDir;
using testing::windowsText;

fs::path fakeLibrary() {
    return testing::testProgramDirectory() / "fake_ftd2xx" / "ftd2xx.dll";
}
fs::path incompleteLibrary() {
    return testing::testProgramDirectory() / "fake_ftd2xx_incomplete" / "ftd2xx.dll";
}
fs::path program() {
    return testing::testProgramDirectory() / IQFEEDER_PROGRAM_FROM_TESTS;
}

// On a PC with FTDI's driver installed the system folder holds the real library, which the
// cases that expect none would find.
bool systemFolderHasTheLibrary() {
    HMODULE module = ::LoadLibraryExA("ftd2xx.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr) {
        ::FreeLibrary(module);
    }
    return module != nullptr;
}

std::string text(const std::string& path) {
    const auto bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

class MakerLibraryTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string capture_ = dir_.file("device.bin");
    std::string log_ = dir_.file("calls.log");
    std::map<std::string, std::string> environment_{
        {"FAKE_FTD2XX_CAPTURE", capture_}, {"FAKE_FTD2XX_LOG", log_}, {"FAKE_FTD2XX_DEVICES", "3"}};
};

TEST_F(MakerLibraryTest, DllWithTheFourCallsDrivesTheDevice) {
    const testing::ScopedEnvironment environment(environment_);
    auto driver = MakerLibraryDriver::load(fakeLibrary().string().c_str());
    ASSERT_NE(driver, nullptr);
    std::ostringstream out;
    Console console(out);
    DeviceLink link(driver->table(), console);
    link.listDevices();
    link.openFirstDevice();
    auto buffer = patternBytes(32000);
    link.sendBuffer(buffer.data(), 32000);
    link.closeDevice();

    EXPECT_EQ(out.str(), "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n");
    EXPECT_EQ(readFile(capture_), patternBytes(32000));
    EXPECT_EQ(text(log_), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
}

struct AbsentCase {
    const char* name;
    std::function<std::string(const TempDir&)> makeLibrary;
};

class AbsentLibraryTest : public MakerLibraryTest,
                          public ::testing::WithParamInterface<AbsentCase> {};

TEST_P(AbsentLibraryTest, CountsAsAbsent) {
    const std::string library = GetParam().makeLibrary(dir_);
    EXPECT_EQ(MakerLibraryDriver::load(library.c_str()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, AbsentLibraryTest,
    ::testing::Values(
        AbsentCase{"LackingFT_Close", [](const TempDir&) { return incompleteLibrary().string(); }},
        AbsentCase{"Missing", [](const TempDir& d) { return d.file("ftd2xx.dll"); }},
        // A damaged file must not bring up an error dialog that would stall an unattended run.
        AbsentCase{"NotADll",
                   [](const TempDir& d) {
                       testing::writeFile(d.file("ftd2xx.dll"), patternBytes(4096));
                       return d.file("ftd2xx.dll");
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MakerLibraryTest, CopyInTheWorkingDirectoryIsNotPickedUpByName) {
    if (systemFolderHasTheLibrary()) {
        GTEST_SKIP() << "ftd2xx.dll is installed in the system folder";
    }
    fs::copy_file(fakeLibrary(), dir_.path() / "ftd2xx.dll");
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    const auto driver = MakerLibraryDriver::load();
    fs::current_path(previous);
    EXPECT_EQ(driver, nullptr);
}

// The real program, deployed as on a Windows PC: iqfeeder.exe in a folder of its own, with or
// without ftd2xx.dll beside it.
struct DeploymentCase {
    const char* name;
    std::function<fs::path()> libraryBesideProgram;  // empty path: none
    bool deviceFound;
};

class DeploymentTest : public MakerLibraryTest,
                       public ::testing::WithParamInterface<DeploymentCase> {};

TEST_P(DeploymentTest, RecordingRunsThroughWithTheLibraryBesideTheProgram) {
    if (GetParam().libraryBesideProgram().empty() && systemFolderHasTheLibrary()) {
        GTEST_SKIP() << "ftd2xx.dll is installed in the system folder";
    }
    const fs::path folder = dir_.path() / "program folder";
    fs::create_directory(folder);
    fs::copy_file(program(), folder / "iqfeeder.exe");
    if (const fs::path library = GetParam().libraryBesideProgram(); !library.empty()) {
        fs::copy_file(library, folder / "ftd2xx.dll");
    }
    const std::string input = dir_.file("recording 70k.iq");
    testing::writeFile(input, patternBytes(70000));

    const auto result =
        testing::runChild({(folder / "iqfeeder.exe").string(), input}, environment_);

    const std::string perPass = GetParam().deviceFound ? "" : "FT_W32_WriteFile Failed\n";
    const std::string start =
        GetParam().deviceFound
            ? "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n"
            : kNoDeviceLines;
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, windowsText(start + "Input file is " + input +
                                      "\nSending IQ data to FTDI USB device.....\n\n" +
                                      "Checking if it's a recorded file or live stream.....\n" +
                                      "Using pre-recorded file, Sent 0 of 70KB\r" + perPass +
                                      "Using pre-recorded file, Sent 32 of 70KB\r" + perPass +
                                      "Using pre-recorded file, Sent 64 of 70KB\r" + perPass +
                                      "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n"));
    if (GetParam().deviceFound) {
        auto expected = patternBytes(70000);
        expected.resize(96000, 0);
        EXPECT_EQ(readFile(capture_), expected);
        EXPECT_EQ(text(log_), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
    } else {
        EXPECT_TRUE(readFile(log_).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Deployments, DeploymentTest,
    ::testing::Values(DeploymentCase{"MakersLibrary", fakeLibrary, true},
                      DeploymentCase{"LibraryLackingACall", incompleteLibrary, false},
                      DeploymentCase{"NoLibrary", [] { return fs::path(); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
