// A file on its own from its first pass: the probe that tells a live file from a recording, and
// where the first live pass reads. The live rules after that are LiveStreamTest's; a file that
// is live whatever it does (--live) is StreamRunnerTest's LiveOnlyTest.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stream/LiveFileKind.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/InputKindFixture.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::bytesOf;
using testing::fileBytes;
using testing::kJumpedLines;
using testing::kLengthThatEndsALiveRun;
using testing::kProbeLine;
using testing::patternBytes;
using testing::resizeFile;
using testing::Segment;
using testing::statusLine;
using testing::writeFile;
using testing::zeros;
using Outcome = Pass::Outcome;

class LiveFileKindTest : public testing::InputKindFixture {};

// The first pass, and after its buffer the producer leaps far ahead, so the next pass jumps to
// the position cap and the input ends there.
struct FirstPassCase {
    const char* name;
    std::size_t length;
    std::size_t probeGrowth;  // appended while the probe waits
    LiveFileOptions options;
    std::string console;
    std::vector<Segment> firstBuffer;
    std::vector<std::uint32_t> sleeps;
    std::string errors;
};
void PrintTo(const FirstPassCase& c, std::ostream* out) {
    *out << c.name;
}

class FirstPassTest : public LiveFileKindTest,
                      public ::testing::WithParamInterface<FirstPassCase> {};

TEST_P(FirstPassTest, ReadsFrom32000BehindTheEnd) {
    const FirstPassCase& c = GetParam();
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(c.length));
    onSleep = [&](std::uint32_t) { appendPattern(path, c.probeGrowth); };
    afterSend = [&](std::size_t index) {
        if (index == 0) {
            resizeFile(path, kLengthThatEndsALiveRun);
        }
    };

    EXPECT_EQ(drive(std::make_unique<LiveFileKind>(source(path), c.options)), Outcome::CapReached);

    EXPECT_EQ(output(), c.console + kJumpedLines + statusLine(500032, 250));
    ASSERT_EQ(sent.size(), 64000U);
    EXPECT_EQ(std::vector<std::uint8_t>(sent.begin(), sent.begin() + 32000),
              bytesOf(c.firstBuffer));
    EXPECT_EQ(sleeps, c.sleeps);
    std::string errors = c.errors;
    if (const std::size_t at = errors.find("PATH"); at != std::string::npos) {
        errors.replace(at, 4, path);
    }
    EXPECT_EQ(errorOutput(), errors);
}

LiveFileOptions withRepeat(std::uint64_t times) {
    LiveFileOptions options;
    options.repeat = times;
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Live, FirstPassTest,
    ::testing::Values(
        FirstPassCase{"GrewDuringTheProbe",
                      100000,
                      50000,
                      {},
                      kProbeLine + statusLine(150, 250),
                      {fileBytes(118000, 150000)},
                      {2000},
                      ""},
        // 32000 behind its end is before its start: the seek fails, the read starts at 0.
        FirstPassCase{"ShorterThanTheBuffer",
                      10000,
                      10000,
                      {},
                      kProbeLine + statusLine(20, 250),
                      {fileBytes(0, 20000), zeros(12000)},
                      {2000},
                      ""},
        FirstPassCase{"RepeatIgnoredWithANote",
                      100000,
                      50000,
                      withRepeat(3),
                      kProbeLine + statusLine(150, 250),
                      {fileBytes(118000, 150000)},
                      {2000},
                      "iqfeeder: PATH grows, so it is followed as a live file and --repeat is "
                      "ignored\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LiveFileKindTest, InputVanishingDuringTheFirstProbeIsRefused) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(1000));
    onSleep = [&](std::uint32_t) { std::filesystem::remove(path); };
    EXPECT_EQ(drive(std::make_unique<LiveFileKind>(source(path), LiveFileOptions{})),
              Outcome::Refused);
    EXPECT_EQ(output(), kProbeLine + testing::cantOpenLine(path));
    EXPECT_TRUE(sent.empty());
}

TEST_F(LiveFileKindTest, StopDuringTheProbeSendsNothing) {
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(70000));
    onSleep = [&](std::uint32_t) { stopAsked = true; };
    EXPECT_EQ(drive(std::make_unique<LiveFileKind>(source(path), LiveFileOptions{})),
              Outcome::Stopped);
    EXPECT_EQ(output(), kProbeLine);
    EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace iqfeeder
