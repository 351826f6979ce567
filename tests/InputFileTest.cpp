#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/Utf16.h"
#include "common/WindowsPaths.h"
#include "stream/InputFile.h"
#include "stream/StreamReader.h"
#include "tests/support/RunFixture.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::patternBytes;
using testing::TempDir;

TEST(InputFileTest, NegativeSeekFailsAndKeepsTheOffset) {
    TempDir dir;
    const std::string path = dir.file("f");
    testing::writeFile(path, patternBytes(100));
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    EXPECT_EQ(file.measure(), 100);
    file.seekTo(40);
    file.seekTo(-12000);
    std::uint8_t bytes[10] = {};
    ASSERT_EQ(file.read(bytes, sizeof bytes), 10U);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 10), patternBytes(10, 40));
}

// The run decides where lengths are held (at 2^31 - 1 unless --unlimited): the file tells all.
TEST(InputFileTest, LengthIsMeasuredInFullPast2GiB) {
    TempDir dir;
    const std::string path = dir.file("sparse");
    testing::writeFile(path, {});
    for (std::int64_t length : {2147483647LL, 2147483648LL, 5000000000LL}) {
        testing::resizeFile(path, length);
        InputFile file;
        ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
        EXPECT_EQ(file.measure(), length);
    }
}

TEST(InputFileTest, ReadStopsAtTheEndOfTheFile) {
    TempDir dir;
    const std::string path = dir.file("f");
    testing::writeFile(path, patternBytes(6000));
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    file.seekTo(64000);
    std::vector<std::uint8_t> buffer(32000);
    EXPECT_EQ(file.read(buffer.data(), buffer.size()), 0U);
    file.seekTo(0);
    EXPECT_EQ(file.read(buffer.data(), buffer.size()), 6000U);
}

TEST(InputFileTest, ReadsGoOnWhereTheLastOneEndedAndMeasuringRewinds) {
    TempDir dir;
    const std::string path = dir.file("f");
    testing::writeFile(path, patternBytes(100));
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    std::uint8_t bytes[10] = {};
    file.seekTo(30);
    ASSERT_EQ(file.read(bytes, sizeof bytes), 10U);
    ASSERT_EQ(file.read(bytes, sizeof bytes), 10U);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 10), patternBytes(10, 40));
    EXPECT_EQ(file.measure(), 100);
    ASSERT_EQ(file.read(bytes, sizeof bytes), 10U);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 10), patternBytes(10, 0));
}

TEST(InputFileTest, MeasuresAndReadsWhatTheProducerAppendedAfterTheOpen) {
    TempDir dir;
    const std::string path = dir.file("live");
    testing::writeFile(path, patternBytes(100));
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    EXPECT_EQ(file.measure(), 100);
    testing::appendPattern(path, 50);
    EXPECT_EQ(file.measure(), 150);
    file.seekTo(90);
    std::vector<std::uint8_t> buffer(100);
    ASSERT_EQ(file.read(buffer.data(), buffer.size()), 60U);
    buffer.resize(60);
    EXPECT_EQ(buffer, patternBytes(60, 90));
}

struct OpenCase {
    const char* name;
    std::function<std::string(const TempDir&)> makePath;
    InputFile::OpenStatus expected;
};

void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.name;
}

class InputFileOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(InputFileOpenTest, TellsRegularFilesFromTheRestAtOnce) {
    TempDir dir;
    const std::string path = GetParam().makePath(dir);
    InputFile file;
    // A FIFO here never gets a writer: an open that waited for one would never return, and the
    // suite's time-out would fail the case.
    EXPECT_EQ(file.open(path), GetParam().expected);
    EXPECT_EQ(file.isOpen(), GetParam().expected == InputFile::OpenStatus::Opened);
}

const std::vector<OpenCase> kOpenCases{
    {"RegularFile",
     [](const TempDir& d) {
         testing::writeFile(d.file("f"), patternBytes(10));
         return d.file("f");
     },
     InputFile::OpenStatus::Opened},
    {"EmptyFile",
     [](const TempDir& d) {
         testing::writeFile(d.file("f"), {});
         return d.file("f");
     },
     InputFile::OpenStatus::Opened},
    {"Missing", [](const TempDir& d) { return d.file("missing"); },
     InputFile::OpenStatus::CannotOpen},
    {"MissingFolder", [](const TempDir& d) { return d.file("gone") + "/f"; },
     InputFile::OpenStatus::CannotOpen},
    {"Directory", [](const TempDir& d) { return d.path().string(); },
     InputFile::OpenStatus::NotRegularFile},
    // Cyrillic and Japanese: outside any ANSI code page that holds the other.
    {"NameOutsideTheAnsiCodePage",
     [](const TempDir& d) {
         const std::string path =
             d.file("\xD0\x97\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C \xE9\x8C\xB2\xE9\x9F\xB3.iq");
         testing::writeFile(path, patternBytes(10));
         return path;
     },
     InputFile::OpenStatus::Opened},
#ifdef _WIN32
    {"Device", [](const TempDir&) { return std::string("NUL"); },
     InputFile::OpenStatus::NotRegularFile},
#else
    {"FifoWithoutWriter",
     [](const TempDir& d) {
         ::mkfifo(d.file("fifo").c_str(), 0600);
         return d.file("fifo");
     },
     InputFile::OpenStatus::NotRegularFile},
    {"DeviceNode", [](const TempDir&) { return std::string("/dev/null"); },
     InputFile::OpenStatus::NotRegularFile},
    // A socket can't be opened at all, yet it is there: not a missing file.
    {"Socket",
     [](const TempDir& d) {
         const std::string path = d.file("s");
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
         ::close(fd);
         return path;
     },
     InputFile::OpenStatus::NotRegularFile},
#endif
};

INSTANTIATE_TEST_SUITE_P(Paths, InputFileOpenTest, ::testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
volatile std::sig_atomic_t stopSignalCaught = 0;

// The stop's signal lands after the stop check, before the wait for data starts: the wait ends
// at once, rather than when data comes (here, a byte a second later).
TEST(StreamReaderTest, StopSignalLandingJustBeforeTheWaitEndsIt) {
    TempDir dir;
    const std::string fifo = dir.file("stream");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    StreamReader input;
    ASSERT_TRUE(input.open(fifo));
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    std::thread late([writer] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        (void)::write(writer, "x", 1);
    });
    struct sigaction caught {};
    caught.sa_handler = [](int) { stopSignalCaught = 1; };
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &caught, &previous);
    const auto stopping = [] {
        const bool stop = stopSignalCaught != 0;
        if (!stop) {
            ::raise(SIGUSR1);  // on this thread, between the check and the wait
        }
        return stop;
    };
    std::uint8_t byte = 0;
    std::size_t delivered = 0;
    EXPECT_EQ(input.read(&byte, 1, delivered, {stopping, {}}), StreamReader::ReadStatus::Stopped);
    late.join();
    ::close(writer);
    ::sigaction(SIGUSR1, &previous, nullptr);
}
#endif

// What Windows would open as a device, whichever platform runs the check.
TEST(WindowsPathTest, DeviceNamesInEveryFormWindowsReadsThemAndNothingElse) {
    for (const char* device : {"COM1",
                               "com1",
                               "COM0",
                               "lpt9",
                               "NUL",
                               "Con",
                               "PRN",
                               "aux",
                               "CONIN$",
                               "conout$.txt",
                               "nul.txt",
                               "aux.tar.gz",
                               "PRN.",
                               "LPT1 ",
                               "nul .txt",
                               "CON:",
                               "com1:stream",
                               "C:NUL",
                               "C:\\data\\COM1",
                               "C:/data/com9.iq",
                               "relative\\dir\\Nul.iq",
                               "\\\\server\\share\\LPT3.log",
                               "COM\xC2\xB9",
                               "lpt\xC2\xB3.bin",
                               "COM\xC2\xB2",
                               "\\\\.\\COM1",
                               "\\\\.\\PhysicalDrive0",
                               "\\\\.\\C:",
                               "\\\\.\\C:\\data\\f.iq",
                               "//./COM1",
                               "//?/C:/f.iq",
                               "\\\\?\\GLOBALROOT\\Device\\Null",
                               "\\\\?\\globalroot\\x",
                               "\\\\?\\COM1",
                               "\\\\?\\C:",
                               "\\\\?\\Volume{1234}",
                               "\\??\\COM1",
                               "\\??\\C:"}) {
        EXPECT_TRUE(isWindowsDeviceName(device)) << device;
    }
    for (const char* file :
         {"recording.iq", "COM10", "COM", "LPT", "COMA", "CON1", "console.iq", "nul_file.iq",
          "x.nul", "NUL\\file.iq", "C:\\data\\", "COM\xC2\xB9\xC2\xB9", "LPT\xC2\xB4",
          "\xD0\x97\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C.iq", "\\\\.\\pipe\\feed",
          "\\\\.\\PIPE\\feed", "//./pipe/feed", "\\\\?\\pipe\\feed",
          // In the file namespace a name is taken as it is: COM1 there is a file called COM1.
          "\\\\?\\C:\\data\\COM1", "\\\\?\\UNC\\server\\share\\x.iq", "\\\\?\\Volume{1234}\\x.iq",
          "\\??\\C:\\x.iq", "\\\\server\\share\\x.iq"}) {
        EXPECT_FALSE(isWindowsDeviceName(file)) << file;
    }
}

TEST(WindowsPathTest, LongPathsTakeTheExtendedLengthFormWithBackslashes) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\a\\b.iq", "\\\\?\\C:\\a\\b.iq"},
        {"C:/a/b.iq", "\\\\?\\C:\\a\\b.iq"},
        {"\\\\server\\share\\x.iq", "\\\\?\\UNC\\server\\share\\x.iq"},
        {"//server/share/x.iq", "\\\\?\\UNC\\server\\share\\x.iq"},
        {"\\\\?\\C:\\x.iq", "\\\\?\\C:\\x.iq"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
    };
    for (const auto& [full, extended] : cases) {
        EXPECT_TRUE(extendedLengthPath(utf16FromUtf8(full)) == utf16FromUtf8(extended)) << full;
    }
}

// UTF-8 and the UTF-16 units Windows takes for it, both ways.
TEST(WindowsPathTest, NamesCrossBetweenUtf8AndUtf16Unchanged) {
    const std::pair<std::string, std::vector<std::uint16_t>> cases[] = {
        {"plain.iq", {'p', 'l', 'a', 'i', 'n', '.', 'i', 'q'}},
        {"\xD0\x97\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C",
         {0x0417, 0x0430, 0x043F, 0x0438, 0x0441, 0x044C}},
        {"\xE9\x8C\xB2\xE9\x9F\xB3", {0x9332, 0x97F3}},
        {"\xC3\xA9\xE2\x82\xAC", {0x00E9, 0x20AC}},
        {"\xF0\x9F\x93\xA1", {0xD83D, 0xDCE1}},
        // Lone surrogates, which Windows file names may hold, keep their own three bytes.
        {"a\xED\xA0\x80"
         "b",
         {'a', 0xD800, 'b'}},
        {"\xED\xB0\x80", {0xDC00}},
    };
    for (const auto& [utf8, units] : cases) {
        const Utf16String utf16(units.begin(), units.end());
        EXPECT_TRUE(utf16FromUtf8(utf8) == utf16) << utf8;
        EXPECT_EQ(utf8FromUtf16(utf16), utf8);
    }
    // Bytes that are no UTF-8 each stand for one replacement character.
    EXPECT_TRUE(utf16FromUtf8("a\xFF\xC0\xAF\xE9\x8C") ==
                Utf16String({'a', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
}

TEST(WindowsPathTest, ACharacterCutAtTheEndOfAWriteWaitsForTheRest) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"ab", 2},           {"ab\xD0", 2},           {"ab\xE9\x8C", 2}, {"ab\xE9\x8C\xB2", 5},
        {"\xF0\x9F\x93", 0}, {"\xF0\x9F\x93\xA1", 4}, {"a\x80", 2},      {"", 0},
    };
    for (const auto& [text, complete] : cases) {
        EXPECT_EQ(completeUtf8Length(text), complete) << text;
    }
}

}  // namespace
}  // namespace iqfeeder
