#include <gtest/gtest.h>

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

TEST(InputFileTest, LengthSaturatesAtTheLargestSigned32BitValue) {
    TempDir dir;
    const std::string path = dir.file("sparse");
    testing::writeFile(path, {});
    for (std::int64_t length : {2147483647LL, 2147483648LL, 5000000000LL}) {
        testing::resizeFile(path, length);
        InputFile file;
        ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
        EXPECT_EQ(file.measure(), std::numeric_limits<std::int32_t>::max()) << length;
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

}  // namespace
}  // namespace iqfeeder
