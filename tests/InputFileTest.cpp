#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <functional>
#include <limits>

#include "app/InputFile.h"
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
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(file.open(path), GetParam().expected);
    EXPECT_EQ(file.isOpen(), GetParam().expected == InputFile::OpenStatus::Opened);
    // A FIFO without a writer must not hold the open.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
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

}  // namespace
}  // namespace iqfeeder
