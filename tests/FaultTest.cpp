// Faults in the input while a run goes on, pass by pass against the in-process driver double: a
// recording that grows after the probe, a live file replaced, removed, cut short or grown past
// 2 GiB. Each case pins the console, every byte the device took, the waits and the exit status.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ExpectedLines.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::bytesOf;
using testing::cantOpenLine;
using testing::fileBytes;
using testing::kJumpedLines;
using testing::kLengthThatEndsALiveRun;
using testing::kOvertakenLines;
using testing::kProbeLine;
using testing::kRaisedLine;
using testing::patternBytes;
using testing::progressLine;
using testing::resizeFile;
using testing::RunFixture;
using testing::Segment;
using testing::statusLine;
using testing::writeFile;
using testing::zeros;

// A file of 2 GiB and more measures as the largest signed 32-bit length.
constexpr std::int64_t kOver2GiB = 2147483648LL + 1000000;

// A replacement file holds the pattern shifted by kReplacementShift, so its bytes never pass
// for the old file's.
constexpr std::size_t kReplacementShift = 1000000;

using PathAction = std::function<void(const std::string& path)>;

struct FaultCase {
    const char* name;
    std::size_t initialLength;
    std::vector<PathAction> duringProbe;      // while each probe waits, in turn
    std::map<std::size_t, PathAction> after;  // by 0-based pass, once its buffer went out
    std::function<void(const std::string& path, int retry)> onRetry;  // at each 1 s wait
    std::function<std::string(const std::string& path)> console;      // after the preamble
    std::vector<Segment> sent;
    std::vector<std::uint32_t> sleeps;
    int exitStatus;
};
void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

PathAction grow(std::size_t bytes) {
    return [bytes](const std::string& path) { appendPattern(path, bytes); };
}
PathAction truncateTo(std::int64_t length) {
    return [length](const std::string& path) { resizeFile(path, length); };
}
const PathAction kEndRun = truncateTo(kLengthThatEndsALiveRun);
PathAction replaceWith(std::size_t length) {
    return [length](const std::string& path) {
        const std::string fresh = path + ".new";
        writeFile(fresh, patternBytes(length, kReplacementShift));
        std::filesystem::rename(fresh, path);
    };
}
PathAction recreate(std::size_t length) {
    return [length](const std::string& path) { writeFile(path, patternBytes(length)); };
}
void removeFile(const std::string& path) {
    std::filesystem::remove(path);
}

class FaultTest : public RunFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, EndsAsTheRulesSayWithNoByteFromBeyondTheFile) {
    const FaultCase& c = GetParam();
    const std::string path = dir.file("input.iq");
    writeFile(path, patternBytes(c.initialLength));
    std::size_t probes = 0;
    int retries = 0;
    onSleep = [&](std::uint32_t ms) {
        if (ms == 1000) {
            ASSERT_TRUE(c.onRetry) << "unexpected retry";
            c.onRetry(path, retries++);
        } else if (probes < c.duringProbe.size()) {
            c.duringProbe[probes++](path);
        }
    };
    driver.afterWrite = [&](std::size_t writeIndex) {
        if (writeIndex % 5 != 4) {
            return;
        }
        // A run going on past the table is told to end; the comparisons then show it.
        const auto action = c.after.find(writeIndex / 5);
        (action != c.after.end() ? action->second : kEndRun)(path);
    };

    EXPECT_EQ(run(path), c.exitStatus);

    EXPECT_EQ(output(), preamble(path) + c.console(path));
    const std::vector<std::uint8_t> expected = bytesOf(c.sent);
    EXPECT_EQ(driver.bytes.size(), expected.size());
    EXPECT_TRUE(driver.bytes == expected) << "device bytes differ";
    EXPECT_EQ(sleeps, c.sleeps);
    EXPECT_EQ(driver.calls.back(), "close");
    EXPECT_FALSE(driver.handleOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Input, FaultTest,
    ::testing::Values(
        // Found recorded, then appended to: the new bytes are sent too, as far as the length
        // measured by each pass, and the run ends once past it.
        FaultCase{"RecordingGrowsAfterTheProbe",
                  70000,
                  {grow(0)},
                  {{0, grow(50000)}, {1, grow(0)}, {2, grow(0)}, {3, grow(0)}},
                  {},
                  [](const std::string&) {
                      return kProbeLine + progressLine(0, 70) + progressLine(32, 120) +
                             progressLine(64, 120) + progressLine(96, 120) +
                             progressLine(128, 120) + "File sent.\n";
                  },
                  {fileBytes(0, 120000), zeros(8000)},
                  {2000},
                  0},
        // The producer renames a new file over the old one: the next pass reads the new file at
        // the position the run had reached.
        FaultCase{"LiveFileReplacedByRename",
                  100000,
                  {grow(50000)},
                  {{0, replaceWith(300000)}},
                  {},
                  [](const std::string&) {
                      return kProbeLine + statusLine(150, 250) + statusLine(300, 1171) +
                             kJumpedLines + statusLine(500032, 250);
                  },
                  {fileBytes(118000, 150000),
                   fileBytes(kReplacementShift + 150000, kReplacementShift + 182000), zeros(32000)},
                  {2000},
                  0},
        // Gone for two waits, then back: the same pass is tried again each second, from the
        // position it had.
        FaultCase{"LiveFileRemovedAndRecreated",
                  100000,
                  {grow(50000)},
                  {{0, removeFile}},
                  [](const std::string& path, int retry) {
                      if (retry == 1) {
                          recreate(200000)(path);
                      }
                  },
                  [](const std::string& path) {
                      return kProbeLine + statusLine(150, 250) + cantOpenLine(path) +
                             cantOpenLine(path) + statusLine(200, 390) + kJumpedLines +
                             statusLine(500032, 250);
                  },
                  {fileBytes(118000, 150000), fileBytes(150000, 182000), zeros(32000)},
                  {2000, 1000, 1000},
                  0},
        // Cut back, not to zero: the reader is past the new end, so it steps back to the newest
        // 64000 bytes the file still holds.
        FaultCase{"LiveFileTruncatedPartWay",
                  100000,
                  {grow(50000)},
                  {{0, truncateTo(100000)}},
                  {},
                  [](const std::string&) {
                      return kProbeLine + statusLine(150, 250) + kOvertakenLines + kRaisedLine +
                             statusLine(100, 500) + kJumpedLines + statusLine(500032, 500);
                  },
                  {fileBytes(118000, 150000), fileBytes(36000, 100000), zeros(64000)},
                  {2000},
                  0},
        // Emptied after the buffer was raised, then found live again beyond 2 GiB: 32000 behind
        // the saturated length plus a 64000 buffer passes the largest position. It must end the
        // run at the cap, not wrap to a negative position and go on.
        FaultCase{"LiveFileRegrownPast2GiBAfterTheRaise",
                  90000,
                  {grow(10000), truncateTo(kOver2GiB)},
                  {{0, truncateTo(0)}, {1, grow(0)}, {2, grow(0)}},
                  {},
                  [](const std::string&) {
                      return kProbeLine + statusLine(100, 250) + kOvertakenLines + kRaisedLine +
                             statusLine(0, 500) + kProbeLine + statusLine(2147483, 250);
                  },
                  {fileBytes(68000, 100000), zeros(64000), zeros(64000)},
                  {2000, 2000},
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
