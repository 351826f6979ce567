// Hours of streaming, in short: the real program follows a file a producer appends to at a
// steady rate, while the stand-in device drains a little faster than that, then a little
// slower. Its resident memory and open descriptors, read from /proc while it runs, must be the
// same at the end as once the run has settled, and every byte the device took must be the
// file's byte at the offset the position rules imply.
// IQFEEDER_SOAK_SECONDS sets the length (default 60), IQFEEDER_SOAK_BYTES_PER_SECOND the
// producer's rate (default 96000). A live run ends by itself once its read position reaches
// 500000000, so length times rate must stay below that.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ExpectedLines.h"
#include "tests/support/FileProducer.h"
#include "tests/support/LiveRunAudit.h"
#include "tests/support/PtyChild.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using namespace std::chrono_literals;
using testing::kProbeLine;
using testing::patternBytes;
using testing::readFile;

const std::string kProgram = IQFEEDER_PROGRAM;
const std::string kFakeLibraryDir = FAKE_FTD2XX_DIR;

struct Usage {
    long rssKb = -1;
    long descriptors = -1;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            usage.rssKb = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    std::error_code error;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    usage.descriptors = error ? -1 : count;
    return usage;
}

long setting(const char* name, long fallback) {
    const char* value = std::getenv(name);
    const long number = value != nullptr ? std::strtol(value, nullptr, 10) : fallback;
    return number > 0 ? number : fallback;
}

TEST(SoakTest, NothingGrowsAndEveryByteSentIsTheFilesOwn) {
    const std::chrono::seconds length(setting("IQFEEDER_SOAK_SECONDS", 60));
    const auto producerRate =
        static_cast<std::uint64_t>(setting("IQFEEDER_SOAK_BYTES_PER_SECOND", 96000));
    ASSERT_LT(producerRate * static_cast<std::uint64_t>(length.count()), 450000000U)
        << "the run would reach the position cap and end by itself";
    // The run has settled (its buffer raised) well before this; a minute in on long runs.
    const auto settled = std::min<std::chrono::seconds>(60s, length / 3);
    testing::TempDir dir;
    const std::string input = dir.file("soak stream.iq");
    const std::string capture = dir.file("device.bin");
    testing::writeFile(input, patternBytes(200000));

    testing::FileProducer producer(input, producerRate);
    const auto start = std::chrono::steady_clock::now();
    testing::PtyChild program(
        {kProgram, input},
        {{"LD_LIBRARY_PATH", kFakeLibraryDir},
         {"FAKE_FTD2XX_CAPTURE", capture},
         // A quarter faster than the producer for the first half, then a fifth slower.
         {"FAKE_FTD2XX_BYTES_PER_SECOND", std::to_string(producerRate * 5 / 4)},
         {"FAKE_FTD2XX_PACE_CHANGE_MS",
          std::to_string(std::chrono::milliseconds(length).count() / 2)},
         {"FAKE_FTD2XX_LATER_BYTES_PER_SECOND", std::to_string(producerRate * 4 / 5)}},
        dir.file("stderr.txt"));  // the summary of the stop, apart from the console

    Usage atSettled;
    Usage atEnd;
    long largestRssKb = 0;
    for (auto now = start; now - start < length; now = std::chrono::steady_clock::now()) {
        program.readFor(1s);  // the program blocks when its terminal is not read
        const Usage usage = usageOf(program.pid());
        ASSERT_GT(usage.rssKb, 0) << "the program ended early:\n" << program.output();
        largestRssKb = std::max(largestRssKb, usage.rssKb);
        if (atSettled.rssKb < 0 && std::chrono::steady_clock::now() - start >= settled) {
            atSettled = usage;
        }
        atEnd = usage;
    }
    program.interrupt();
    const int waitStatus = program.waitForEnd(10s);
    producer.stop();

    EXPECT_TRUE(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGINT) << waitStatus;
    EXPECT_EQ(atEnd.descriptors, atSettled.descriptors);
    EXPECT_EQ(atEnd.rssKb, atSettled.rssKb) << "largest " << largestRssKb << " kB";

    // As printed, apart from the blanks a terminal gets to cover a longer old line.
    const std::string out = testing::withoutPadding(program.output());
    const std::size_t probe = out.find(kProbeLine);
    ASSERT_NE(probe, std::string::npos) << out;
    const auto file = readFile(input);
    ASSERT_EQ(testing::patternPrefixLength(file), file.size())
        << "the producer wrote something else";
    const testing::LiveRunAudit audit = testing::auditLiveRun(
        std::string_view(out).substr(probe + kProbeLine.size()), readFile(capture));
    EXPECT_EQ(audit.problems, std::vector<std::string>{});
    // Both tempers met: the device overtaking the end, and falling too far behind.
    EXPECT_EQ(audit.raises, 1U);
    EXPECT_GE(audit.overtakings, 1U);
    EXPECT_GE(audit.jumps, 1U);
    std::printf(
        "%lld s: %zu passes checked (%zu overtakings, %zu jumps, %zu short reads); resident "
        "%ld kB and %ld descriptors once settled, %ld kB and %ld at the end, %ld kB at most\n",
        static_cast<long long>(length.count()), audit.passes, audit.overtakings, audit.jumps,
        audit.shortReads, atSettled.rssKb, atSettled.descriptors, atEnd.rssKb, atEnd.descriptors,
        largestRssKb);
}

}  // namespace
}  // namespace iqfeeder
