// The maker's library as Windows loads it: a DLL found at run time by name, its four calls
// reached through GetProcAddress. The stand-in DLL is built from tests/fake_ftd2xx. And the real
// program run as on a Windows PC: its library beside it, any input name, device names refused.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

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
using testing::utf8Path;
using testing::windowsText;

fs::path fakeLibrary() {
    return testing::testProgramDirectory() / "fake_ftd2xx" / "ftd2xx.dll";
}
fs::path incompleteLibrary() {
    return testing::testProgramDirectory() / "fake_ftd2xx_incomplete" / "ftd2xx.dll";
}
// A DLL that imports from one kept where the loader won't look.
fs::path needingLibrary() {
    return testing::testProgramDirectory() / "fake_ftd2xx_needing" / "ftd2xx.dll";
}
// A file of the library's name that is no DLL at all.
void writeBrokenLibrary(const fs::path& path) {
    testing::writeFile(utf8Path(path), patternBytes(4096));
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

// Standard error against what is expected of it: exactly, or with the one "*" standing for the
// system's own words for an error, which vary with Windows' language (paths never hold a "*").
bool matches(const std::string& err, const std::string& expected) {
    const std::size_t star = expected.find('*');
    if (star == std::string::npos) {
        return err == expected;
    }
    const std::string head = expected.substr(0, star);
    const std::string tail = expected.substr(star + 1);
    return err.size() >= head.size() + tail.size() && err.starts_with(head) &&
           err.ends_with(tail) &&
           std::count(err.begin(), err.end(), '\n') ==
               std::count(expected.begin(), expected.end(), '\n');
}

// Cyrillic and Japanese, which no ANSI code page holds together.
const std::string kNameOutsideTheAnsiCodePage =
    "\xD0\x97\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C \xE9\x8C\xB2\xE9\x9F\xB3.iq";

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
    std::ostringstream diagnostics;
    auto driver = MakerLibraryDriver::load(diagnostics, fakeLibrary().string().c_str());
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(diagnostics.str(), "");
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
    // The line that says why, given the library's path (see matches()); none when it is missing.
    std::function<std::string(const std::string& library)> err;
};

class AbsentLibraryTest : public MakerLibraryTest,
                          public ::testing::WithParamInterface<AbsentCase> {};

TEST_P(AbsentLibraryTest, CountsAsAbsentAndSaysWhyUnlessItIsNotThere) {
    const std::string library = GetParam().makeLibrary(dir_);
    std::ostringstream diagnostics;
    EXPECT_EQ(MakerLibraryDriver::load(diagnostics, library.c_str()), nullptr);
    const std::string expected = GetParam().err(library);
    EXPECT_TRUE(matches(diagnostics.str(), expected)) << diagnostics.str() << "\nnot\n" << expected;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, AbsentLibraryTest,
    ::testing::Values(
        AbsentCase{"LackingFT_Close", [](const TempDir&) { return incompleteLibrary().string(); },
                   [](const std::string& l) { return "iqfeeder: " + l + " lacks FT_Close\n"; }},
        AbsentCase{"Missing", [](const TempDir& d) { return d.file("ftd2xx.dll"); },
                   [](const std::string&) { return std::string(); }},
        // A damaged file must not bring up an error dialog that would stall an unattended run.
        AbsentCase{"NotADll",
                   [](const TempDir& d) {
                       writeBrokenLibrary(d.path() / "ftd2xx.dll");
                       return d.file("ftd2xx.dll");
                   },
                   [](const std::string& l) {
                       return "iqfeeder: " + l + ": " + l + ": * (error 193)\n";
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MakerLibraryTest, CopyInTheWorkingDirectoryIsNotPickedUpByName) {
    if (systemFolderHasTheLibrary()) {
        GTEST_SKIP() << "ftd2xx.dll is installed in the system folder";
    }
    fs::copy_file(fakeLibrary(), dir_.path() / "ftd2xx.dll");
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    std::ostringstream diagnostics;
    const auto driver = MakerLibraryDriver::load(diagnostics);
    fs::current_path(previous);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(diagnostics.str(), "");  // not where the search looks, so not there at all
}

// The real program, deployed as on a Windows PC: iqfeeder.exe in a folder of its own, with or
// without ftd2xx.dll beside it, sending a recording of any name.
struct DeploymentCase {
    const char* name;
    std::function<void(const fs::path& library)> installLibrary;  // does nothing: none
    bool deviceFound;
    // The line on standard error, given the path of the DLL beside the program (see matches()).
    std::function<std::string(const std::string& library)> err;
    std::function<std::string(const TempDir&)> recordingPath;
};

void PrintTo(const DeploymentCase& c, std::ostream* out) {
    *out << c.name;
}

class DeploymentTest : public MakerLibraryTest,
                       public ::testing::WithParamInterface<DeploymentCase> {};

TEST_P(DeploymentTest, RecordingRunsThroughWithTheLibraryBesideTheProgram) {
    const fs::path folder = dir_.path() / "program folder";
    fs::create_directory(folder);
    fs::copy_file(program(), folder / "iqfeeder.exe");
    GetParam().installLibrary(folder / "ftd2xx.dll");
    if (!fs::exists(folder / "ftd2xx.dll") && systemFolderHasTheLibrary()) {
        GTEST_SKIP() << "ftd2xx.dll is installed in the system folder";
    }
    const std::string input = GetParam().recordingPath(dir_);
    testing::writeFile(input, patternBytes(70000));

    const auto result =
        testing::runChild({(folder / "iqfeeder.exe").string(), input}, environment_);

    const std::string perPass = GetParam().deviceFound ? "" : "FT_W32_WriteFile Failed\n";
    const std::string start =
        GetParam().deviceFound
            ? "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n"
            : kNoDeviceLines;
    EXPECT_EQ(result.exitStatus, 0);
    const std::string err = windowsText(GetParam().err(utf8Path(folder / "ftd2xx.dll")));
    EXPECT_TRUE(matches(result.err, err)) << result.err << "\nnot\n" << err;
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

std::function<void(const fs::path&)> copyOf(fs::path (*library)()) {
    return [library](const fs::path& to) { fs::copy_file(library(), to); };
}
std::string noLine(const std::string&) {
    return {};
}
std::string plainRecording(const TempDir& d) {
    return d.file("recording 70k.iq");
}

// Deeper than MAX_PATH allows a plain path.
std::string pathLongerThanMaxPath(const TempDir& d) {
    std::string path = utf8Path(d.path());
    for (const char letter : {'a', 'b', 'c', 'd'}) {
        path += "\\folder " + std::string(70, letter);
        fs::create_directory(testing::pathFromUtf8(path));
    }
    path += "\\recording 70k.iq";
    EXPECT_GT(path.size(), 300U);
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Deployments, DeploymentTest,
    ::testing::Values(
        DeploymentCase{"MakersLibrary", copyOf(fakeLibrary), true, noLine, plainRecording},
        DeploymentCase{
            "LibraryLackingACall", copyOf(incompleteLibrary), false,
            [](const std::string&) { return std::string("iqfeeder: ftd2xx.dll lacks FT_Close\n"); },
            plainRecording},
        DeploymentCase{"NoLibrary", [](const fs::path&) {}, false, noLine, plainRecording},
        DeploymentCase{
            "BrokenLibrary", writeBrokenLibrary, false,
            [](const std::string& l) { return "iqfeeder: ftd2xx.dll: " + l + ": * (error 193)\n"; },
            plainRecording},
        // Windows gives the error of a missing library here too: only the file being there
        // tells the two apart.
        DeploymentCase{
            "LibraryLackingADependency", copyOf(needingLibrary), false,
            [](const std::string& l) { return "iqfeeder: ftd2xx.dll: " + l + ": * (error 126)\n"; },
            plainRecording},
        DeploymentCase{"NameOutsideTheAnsiCodePage", copyOf(fakeLibrary), true, noLine,
                       [](const TempDir& d) { return d.file(kNameOutsideTheAnsiCodePage); }},
        DeploymentCase{"PathLongerThanMaxPath", copyOf(fakeLibrary), true, noLine,
                       pathLongerThanMaxPath}),
    [](const auto& info) { return std::string(info.param.name); });

// An encoder's output as iqfeeder.exe meets it on standard input or a named pipe: written from a
// thread of the test in odd-sized chunks with pauses, and ended by closing the writing end.
class StreamFeed {
  public:
    // Standard input a pipe.
    static std::unique_ptr<StreamFeed> pipe(const TempDir&,
                                            const std::vector<std::uint8_t>& bytes) {
        auto feed = std::make_unique<StreamFeed>("-");
        HANDLE writeEnd = nullptr;
        if (::CreatePipe(&feed->standardInput_, &writeEnd, nullptr, 0)) {
            feed->writer_ = std::thread([&self = *feed, writeEnd, bytes] {
                self.wroteAll_ = writeInChunks(writeEnd, bytes);
                ::CloseHandle(writeEnd);
            });
        }
        return feed;
    }
    // Standard input a file, as `iqfeeder - < FILE` gives it.
    static std::unique_ptr<StreamFeed> file(const TempDir& dir,
                                            const std::vector<std::uint8_t>& bytes) {
        auto feed = std::make_unique<StreamFeed>("-");
        const std::string path = dir.file("redirected.iq");
        testing::writeFile(path, bytes);
        feed->standardInput_ =
            ::CreateFileW(testing::pathFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        feed->wroteAll_ = feed->standardInput_ != INVALID_HANDLE_VALUE;
        return feed;
    }
    // A named pipe that the test serves, under a name no ANSI code page holds: its one instance
    // made before the program starts, the writing begun once the program has connected.
    static std::unique_ptr<StreamFeed> namedPipe(const TempDir&,
                                                 const std::vector<std::uint8_t>& bytes) {
        auto feed = std::make_unique<StreamFeed>("\\\\.\\pipe\\iqfeeder-" +
                                                 std::to_string(::GetCurrentProcessId()) + "-" +
                                                 kNameOutsideTheAnsiCodePage);
        const HANDLE server =
            ::CreateNamedPipeW(feed->wideArgument().c_str(), PIPE_ACCESS_OUTBOUND,
                               PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        if (server != INVALID_HANDLE_VALUE) {
            feed->served_ = true;
            feed->writer_ = std::thread([&self = *feed, server, bytes] {
                if (::ConnectNamedPipe(server, nullptr) ||
                    ::GetLastError() == ERROR_PIPE_CONNECTED) {
                    // A writer that comes late: the program's first read waits for it.
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    // Until all is read: closing the pipe then can't drop any of it.
                    self.wroteAll_ = writeInChunks(server, bytes) && ::FlushFileBuffers(server);
                }
                ::CloseHandle(server);
            });
        }
        return feed;
    }

    explicit StreamFeed(std::string argument) : argument_(std::move(argument)) {}
    ~StreamFeed() { finish(); }
    StreamFeed(const StreamFeed&) = delete;
    StreamFeed& operator=(const StreamFeed&) = delete;

    const std::string& argument() const { return argument_; }
    void* standardInput() const { return served_ ? nullptr : standardInput_; }

    // Once the program has gone: whether everything was written and, for a named pipe, read. A
    // writer still waiting for the program to connect is let go by a client of our own, and one
    // blocked on a full pipe by closing our read end.
    bool finish() {
        if (standardInput_ != INVALID_HANDLE_VALUE && standardInput_ != nullptr) {
            ::CloseHandle(standardInput_);
            standardInput_ = INVALID_HANDLE_VALUE;
        }
        if (served_ && writer_.joinable()) {
            const HANDLE client = ::CreateFileW(wideArgument().c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (client != INVALID_HANDLE_VALUE) {
                ::CloseHandle(client);
            }
        }
        if (writer_.joinable()) {
            writer_.join();
        }
        return wroteAll_;
    }

  private:
    std::wstring wideArgument() const { return testing::pathFromUtf8(argument_).wstring(); }

    static bool writeInChunks(HANDLE end, const std::vector<std::uint8_t>& bytes) {
        const std::size_t chunks[] = {1, 6999, 33001, 12345, 20000, 777};
        for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
            const auto size =
                static_cast<::DWORD>(std::min(chunks[i % std::size(chunks)], bytes.size() - at));
            ::DWORD written = 0;
            if (!::WriteFile(end, bytes.data() + at, size, &written, nullptr) || written != size) {
                return false;
            }
            at += size;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return true;
    }

    std::string argument_;
    HANDLE standardInput_ = INVALID_HANDLE_VALUE;
    bool served_ = false;
    std::atomic<bool> wroteAll_ = false;
    std::thread writer_;
};

// The pattern with what text mode would change: a Ctrl-Z (its end of file) first and last, and
// CR LF pairs (its line end), one across the first buffer's end.
std::vector<std::uint8_t> bytesTextModeWouldMangle(std::size_t size) {
    auto bytes = patternBytes(size);
    for (const std::size_t at : {std::size_t{1000}, std::size_t{31999}, std::size_t{50000}}) {
        bytes[at] = '\r';
        bytes[at + 1] = '\n';
    }
    bytes.front() = 0x1A;
    bytes.back() = 0x1A;
    return bytes;
}

struct StreamCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::function<std::unique_ptr<StreamFeed>(const TempDir&, const std::vector<std::uint8_t>&)>
        feed;
    std::vector<int> kilobytesRead;  // on the progress line after each buffer
};

void PrintTo(const StreamCase& c, std::ostream* out) {
    *out << c.name;
}

class StreamTest : public MakerLibraryTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamTest, StreamGoesOutInOrderInWholeBuffersAndAPaddedTail) {
    const fs::path folder = dir_.path() / "program folder";
    fs::create_directory(folder);
    fs::copy_file(program(), folder / "iqfeeder.exe");
    fs::copy_file(fakeLibrary(), folder / "ftd2xx.dll");
    const std::vector<std::uint8_t>& bytes = GetParam().bytes;
    const auto feed = GetParam().feed(dir_, bytes);
    testing::ChildOptions options;
    options.stdinHandle = feed->standardInput();

    const auto result = testing::runChild({(folder / "iqfeeder.exe").string(), feed->argument()},
                                          environment_, options);

    std::string out =
        "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n"
        "Input file is " +
        feed->argument() + "\nSending IQ data to FTDI USB device.....\n\n";
    if (feed->argument() != "-") {
        out += "Waiting for a writer on " + feed->argument() + ".....\n";
    }
    for (const int kilobytes : GetParam().kilobytesRead) {
        out += "Using input stream, Read " + std::to_string(kilobytes) + "KB\r";
    }
    out += "Input stream ended after " + std::to_string(bytes.size()) + " bytes.\n";
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, windowsText(out));
    auto expected = bytes;
    expected.resize((bytes.size() + 31999) / 32000 * 32000, 0);
    EXPECT_EQ(readFile(capture_), expected);
    EXPECT_EQ(text(log_), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
    EXPECT_TRUE(feed->finish());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StreamTest,
    ::testing::Values(
        StreamCase{
            "PipedStandardInput", patternBytes(150000), StreamFeed::pipe, {32, 64, 96, 128, 150}},
        StreamCase{"EmptyPipe", {}, StreamFeed::pipe, {}},
        StreamCase{"RedirectedStandardInput",
                   bytesTextModeWouldMangle(70000),
                   StreamFeed::file,
                   {32, 64, 70}},
        StreamCase{"NamedPipe", patternBytes(70000), StreamFeed::namedPipe, {32, 64, 70}}),
    [](const auto& info) { return std::string(info.param.name); });

// Device names as an operator might type them, run through the real program: refused before
// anything opens them. COM9 is pointed at a probe for the run, so an open of it would show.
class RefusedNameTest : public MakerLibraryTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedNameTest, IsRefusedUnopenedWithStatusOne) {
    if (systemFolderHasTheLibrary()) {
        GTEST_SKIP() << "ftd2xx.dll is installed in the system folder";
    }
    const testing::DeviceOpenProbe probe("COM9");
    const std::string path = GetParam();
    const auto result = testing::runChild({program().string(), path}, environment_);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              windowsText(kNoDeviceLines + "Input file is " + path +
                          "\nSending IQ data to FTDI USB device.....\n\nError opening " + path +
                          ", not a regular file!\n"));
    if (probe.ready()) {
        EXPECT_FALSE(probe.opened());
    }
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedNameTest,
                         ::testing::Values("COM1", "nul.txt", "CON", "\\\\.\\COM1", "COM9",
                                           "com9.iq", "C:\\Windows\\COM9 .log", "\\\\.\\COM9",
                                           "\\\\?\\GLOBALROOT\\Device\\Null"),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

// The probe itself: without it the test above could not fail.
TEST(DeviceOpenProbeTest, SeesAnOpenOfTheDevice) {
    const testing::DeviceOpenProbe probe("COM9");
    if (!probe.ready()) {
        GTEST_SKIP() << "this user can't define device names";
    }
    EXPECT_FALSE(probe.opened());
    const HANDLE device = ::CreateFileW(L"\\\\.\\COM9", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(device, INVALID_HANDLE_VALUE) << ::GetLastError();
    EXPECT_TRUE(probe.opened());
    if (device != INVALID_HANDLE_VALUE) {
        ::CloseHandle(device);
    }
}

// What the operator sees on a console: the name as it is, whatever the console's code page. Needs
// a console (a Command Prompt; under wine, a pseudo-terminal, which ctest provides for this test
// alone and then sets IQFEEDER_EXPECT_CONSOLE so that a missing console fails rather than skips).
class ConsoleTest : public MakerLibraryTest {};

TEST_F(ConsoleTest, NameOutsideTheAnsiCodePageShowsAsItIsOnTheConsole) {
    const HANDLE console = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::DWORD mode = 0;
    if (::GetConsoleMode(console, &mode) == FALSE) {
        ASSERT_EQ(std::getenv("IQFEEDER_EXPECT_CONSOLE"), nullptr) << "no console";
        GTEST_SKIP() << "standard output is no console";
    }
    const std::string input = dir_.file(kNameOutsideTheAnsiCodePage);
    testing::writeFile(input, patternBytes(1000));
    // From the top of a clear screen, so the program's lines are where they are looked for.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(console, &screen));
    ::DWORD cells = 0;
    ::FillConsoleOutputCharacterW(
        console, L' ', static_cast<::DWORD>(screen.dwSize.X * screen.dwSize.Y), {0, 0}, &cells);
    ::SetConsoleCursorPosition(console, {0, 0});

    EXPECT_EQ(testing::runChildOnThisConsole({program().string(), input}, environment_), 0);

    ASSERT_TRUE(::GetConsoleScreenBufferInfo(console, &screen));
    std::vector<std::wstring> rows;
    for (SHORT row = 0; row <= screen.dwCursorPosition.Y; ++row) {
        std::wstring cellsOfRow(static_cast<std::size_t>(screen.dwSize.X), L' ');
        ::DWORD read = 0;
        ::ReadConsoleOutputCharacterW(console, cellsOfRow.data(),
                                      static_cast<::DWORD>(cellsOfRow.size()), {0, row}, &read);
        cellsOfRow.resize(std::min<std::size_t>(read, cellsOfRow.size()));
        rows.push_back(cellsOfRow.substr(0, cellsOfRow.find_last_not_of(L' ') + 1));
    }
    const std::wstring expected = fs::path(std::u8string(input.begin(), input.end())).wstring();
    EXPECT_NE(std::find(rows.begin(), rows.end(), L"Input file is " + expected), rows.end())
        << "the screen holds no row showing the name";
}

}  // namespace
}  // namespace iqfeeder
