// The stop summary, formatted by hand for the signal handler: figures and rounding as printf's
// "%.1f" and "%.2f" would give them away from exact halves.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/RunSummary.h"

namespace iqfeeder {
namespace {

struct SummaryCase {
    std::uint64_t bytes;
    std::uint64_t failed;
    std::uint64_t shortWrites;
    std::uint64_t elapsedMs;
    const char* figures;  // what follows "iqfeeder: "
};

const SummaryCase kSummaryCases[] = {
    {0, 0, 0, 0, "0 bytes sent to the device in 0.0 s (0 B/s), 0 failed writes, 0 short writes"},
    {999, 1, 2, 1000,
     "999 bytes sent to the device in 1.0 s (999 B/s), 1 failed writes, 2 short writes"},
    {1000, 0, 0, 1000,
     "1000 bytes sent to the device in 1.0 s (1.0 kB/s), 0 failed writes, 0 short writes"},
    {128000, 0, 0, 20000,
     "128000 bytes sent to the device in 20.0 s (6.4 kB/s), 0 failed writes, 0 short writes"},
    {1999999, 0, 0, 2000,
     "1999999 bytes sent to the device in 2.0 s (1000.0 kB/s), 0 failed writes, 0 short writes"},
    {2000000, 0, 0, 1000,
     "2000000 bytes sent to the device in 1.0 s (2.00 MB/s), 0 failed writes, 0 short writes"},
    {123456789, 3, 0, 61234,
     "123456789 bytes sent to the device in 61.2 s (2.02 MB/s), 3 failed writes, 0 short writes"},
    {5, 0, 0, 3, "5 bytes sent to the device in 0.0 s (1.7 kB/s), 0 failed writes, 0 short writes"},
    {44000000, 0, 0, 60049,
     "44000000 bytes sent to the device in 60.0 s (732.7 kB/s), 0 failed writes, 0 short writes"},
    {UINT64_MAX, UINT64_MAX, UINT64_MAX, 1,
     "18446744073709551615 bytes sent to the device in 0.0 s (18446744073709551.62 MB/s), "
     "18446744073709551615 failed writes, 18446744073709551615 short writes"},
};

class RunSummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(RunSummaryTest, FiguresAreFormattedAsTheyWereWithPrintf) {
    const SummaryCase& c = GetParam();
    EXPECT_EQ(runSummary({c.bytes, c.failed, c.shortWrites, 0}, c.elapsedMs),
              std::string("iqfeeder: ") + c.figures + "\n");
}

INSTANTIATE_TEST_SUITE_P(Figures, RunSummaryTest, ::testing::ValuesIn(kSummaryCases));

TEST(RunSummaryCutTest, ASmallBufferGetsTheStartOfTheLine) {
    char text[12];
    EXPECT_EQ(formatRunSummary(text, sizeof text, 5, 0, 0, 1000), 11U);
    EXPECT_EQ(std::string(text), "iqfeeder: 5");
}

}  // namespace
}  // namespace iqfeeder
