// Live runs pass by pass: a simulated producer appends to (or truncates) a real file between
// passes and while the probe waits, and each scenario pins every console byte and every byte
// that reached the device, so a skipped, repeated or misplaced range shows.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/ExpectedLines.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::appendSegment;
using testing::fileBytes;
using testing::kJumpedLines;
using testing::kLengthThatEndsALiveRun;
using testing::kOvertakenLines;
using testing::kProbeLine;
using testing::kRaisedLine;
using testing::patternBytes;
using testing::resizeFile;
using testing::RunFixture;
using testing::Segment;
using testing::statusLine;
using testing::writeFile;
using testing::zeros;

// What the producer does once a pass's buffer has gone out.
struct Change {
    enum class Kind { Grow, TruncateTo, EndRun } kind;
    std::size_t bytes;
};
Change grow(std::size_t bytes) {
    return {Change::Kind::Grow, bytes};
}
Change truncateTo(std::size_t length) {
    return {Change::Kind::TruncateTo, length};
}
constexpr Change kStall{Change::Kind::Grow, 0};
// Leaps sparse to a length whose next pass jumps past the position cap, so the run ends.
constexpr Change kEndRun{Change::Kind::EndRun, 0};

struct LivePass {
    std::size_t probeGrowth;  // appended while this pass's probe waits; 0 where none may run
    std::string console;      // everything the pass prints
    std::vector<Segment> sent;
    Change after;
};

// The pass after kEndRun: it jumps to 500032000 - bufferSize and reads the file's sparse
// (zero) bytes there; the position then reaches the cap.
LivePass endingPass(std::size_t bufferSize) {
    return {0,
            kJumpedLines + statusLine(500032, static_cast<int>(bufferSize / 128)),
            {zeros(bufferSize)},
            kStall};
}

struct LiveScenario {
    const char* name;
    std::size_t initialLength;
    std::vector<LivePass> passes;
};
void PrintTo(const LiveScenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// "" when equal, else where the first difference lies.
std::string firstDifference(const std::vector<std::uint8_t>& actual,
                            const std::vector<std::uint8_t>& expected) {
    const auto [a, e] =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) {
        return "";
    }
    const auto at = static_cast<std::size_t>(a - actual.begin());
    return "device bytes differ from byte " + std::to_string(at) + " (buffer byte " +
           std::to_string(at % 32000) + " of a 32000 buffer, " + std::to_string(at % 64000) +
           " of a 64000 one); sent " + std::to_string(actual.size()) + ", expected " +
           std::to_string(expected.size());
}

class LiveScenarioTest : public RunFixture, public ::testing::WithParamInterface<LiveScenario> {};

TEST_P(LiveScenarioTest, PrintsAndSendsExactlyWhatThePositionRulesImply) {
    const LiveScenario& scenario = GetParam();
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(scenario.initialLength));
    // Every buffer goes out as five slices, so the pass in progress is the writes so far / 5.
    const auto passInProgress = [this] { return driver.writeSizes.size() / 5; };
    onSleep = [&](std::uint32_t) {
        const std::size_t pass = passInProgress();
        const bool expected = pass < scenario.passes.size() && scenario.passes[pass].probeGrowth;
        ASSERT_TRUE(expected) << "unexpected probe in pass " << pass + 1;
        appendPattern(path, scenario.passes[pass].probeGrowth);
    };
    driver.afterWrite = [&](std::size_t writeIndex) {
        if (writeIndex % 5 != 4) {
            return;
        }
        const std::size_t pass = writeIndex / 5;
        // A run that goes on past the table is told to end again; the comparisons show it.
        const Change change = pass < scenario.passes.size() ? scenario.passes[pass].after : kEndRun;
        switch (change.kind) {
            case Change::Kind::Grow:
                appendPattern(path, change.bytes);
                break;
            case Change::Kind::TruncateTo:
                resizeFile(path, static_cast<std::int64_t>(change.bytes));
                break;
            case Change::Kind::EndRun:
                resizeFile(path, kLengthThatEndsALiveRun);
                break;
        }
    };

    EXPECT_EQ(run(path), 0);

    std::string expectedConsole = preamble(path);
    std::vector<std::uint8_t> expectedBytes;
    std::vector<std::uint32_t> expectedSlices;
    std::size_t probes = 0;
    for (const LivePass& pass : scenario.passes) {
        expectedConsole += pass.console;
        std::size_t bufferSize = 0;
        for (const Segment& segment : pass.sent) {
            appendSegment(expectedBytes, segment);
            bufferSize += segment.length;
        }
        expectedSlices.insert(expectedSlices.end(), 5, static_cast<std::uint32_t>(bufferSize / 5));
        probes += pass.probeGrowth > 0 ? 1 : 0;
    }
    EXPECT_EQ(output(), expectedConsole);
    EXPECT_EQ(driver.writeSizes, expectedSlices);
    EXPECT_EQ(firstDifference(driver.bytes, expectedBytes), "");
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>(probes, 2000));
    EXPECT_EQ(driver.calls.back(), "close");
}

INSTANTIATE_TEST_SUITE_P(
    Live, LiveScenarioTest,
    ::testing::Values(
        // 80000 more bytes per 32000 sent: the backlog grows by 48000 a pass until it passes
        // 200000, then the reader jumps to the newest buffer; the cycle repeats every 4 passes.
        LiveScenario{
            "ProducerFasterThanTheDevice",
            600000,
            {{60000, kProbeLine + statusLine(660, 250), {fileBytes(628000, 660000)}, grow(80000)},
             {0, statusLine(740, 625), {fileBytes(660000, 692000)}, grow(80000)},
             {0, statusLine(820, 1000), {fileBytes(692000, 724000)}, grow(80000)},
             {0, statusLine(900, 1375), {fileBytes(724000, 756000)}, grow(80000)},
             // Backlog 224000: 756000..948000 is never sent.
             {0, kJumpedLines + statusLine(980, 250), {fileBytes(948000, 980000)}, grow(80000)},
             {0, statusLine(1060, 625), {fileBytes(980000, 1012000)}, grow(80000)},
             {0, statusLine(1140, 1000), {fileBytes(1012000, 1044000)}, grow(80000)},
             {0, statusLine(1220, 1375), {fileBytes(1044000, 1076000)}, grow(80000)},
             // 1076000..1268000 is never sent.
             {0, kJumpedLines + statusLine(1300, 250), {fileBytes(1268000, 1300000)}, kEndRun},
             endingPass(32000)}},
        // A backlog of exactly 200000 is left alone: 1562ms is the largest delay shown.
        LiveScenario{
            "BacklogOfExactly200000IsLeftAlone",
            100000,
            {{100000, kProbeLine + statusLine(200, 250), {fileBytes(168000, 200000)}, grow(74000)},
             {0, statusLine(274, 578), {fileBytes(200000, 232000)}, grow(74000)},
             {0, statusLine(348, 906), {fileBytes(232000, 264000)}, grow(74000)},
             {0, statusLine(422, 1234), {fileBytes(264000, 296000)}, grow(74000)},
             {0, statusLine(496, 1562), {fileBytes(296000, 328000)}, grow(74000)},
             {0, kJumpedLines + statusLine(570, 250), {fileBytes(538000, 570000)}, kEndRun},
             endingPass(32000)}},
        // 20000 more bytes per buffer sent: the reader overtakes the end at the fourth pass,
        // raises the buffer once, and then stepping back and reading the new bytes alternate.
        LiveScenario{
            "ProducerSlowerThanTheDevice",
            500000,
            {{40000, kProbeLine + statusLine(540, 250), {fileBytes(508000, 540000)}, grow(20000)},
             {0, statusLine(560, 156), {fileBytes(540000, 560000), zeros(12000)}, grow(20000)},
             {0, statusLine(580, 62), {fileBytes(572000, 580000), zeros(24000)}, grow(20000)},
             // Position 604000 is past the end (600000): back to 600000 - 64000.
             {0,
              kOvertakenLines + kRaisedLine + statusLine(600, 500),
              {fileBytes(536000, 600000)},
              grow(20000)},
             {0, statusLine(620, 156), {fileBytes(600000, 620000), zeros(44000)}, grow(20000)},
             {0, kOvertakenLines + statusLine(640, 500), {fileBytes(576000, 640000)}, grow(20000)},
             {0, statusLine(660, 156), {fileBytes(640000, 660000), zeros(44000)}, grow(20000)},
             {0, kOvertakenLines + statusLine(680, 500), {fileBytes(616000, 680000)}, kEndRun},
             endingPass(64000)}},
        // Reading exactly at the end is not overtaking: nothing is read, a full buffer of zeros
        // goes out, and the next pass steps back to resend the last 64000 bytes.
        LiveScenario{
            "FileThatStopsGrowing",
            90000,
            {{10000, kProbeLine + statusLine(100, 250), {fileBytes(68000, 100000)}, kStall},
             {0, statusLine(100, 0), {zeros(32000)}, kStall},
             {0,
              kOvertakenLines + kRaisedLine + statusLine(100, 500),
              {fileBytes(36000, 100000)},
              kStall},
             {0, statusLine(100, 0), {zeros(64000)}, kStall},
             {0, kOvertakenLines + statusLine(100, 500), {fileBytes(36000, 100000)}, kStall},
             {0, statusLine(100, 0), {zeros(64000)}, kEndRun},
             endingPass(64000)}},
        // Shorter than a buffer: seeks to negative positions fail and leave the file where the
        // last successful seek put it, and the delay is figured from the negative position.
        LiveScenario{
            "File20000BytesLongAtTheProbe",
            10000,
            {// Position -12000: the read starts where the measuring left the file, at 0.
             {10000,
              kProbeLine + statusLine(20, 250),
              {fileBytes(0, 20000), zeros(12000)},
              grow(10000)},
             {0, statusLine(30, 78), {fileBytes(20000, 30000), zeros(22000)}, grow(10000)},
             // 52000 > 40000: the step back to 8000 succeeds, the one to -24000 fails.
             {0,
              kOvertakenLines + kRaisedLine + statusLine(40, 500),
              {fileBytes(8000, 40000), zeros(32000)},
              grow(10000)},
             {0, statusLine(50, 78), {fileBytes(40000, 50000), zeros(54000)}, grow(10000)},
             // 104000 > 60000: the step back to -4000 fails; the file stays at 104000.
             {0, kOvertakenLines + statusLine(60, 500), {zeros(64000)}, grow(10000)},
             {0, statusLine(70, 78), {fileBytes(60000, 70000), zeros(54000)}, grow(10000)},
             {0, kOvertakenLines + statusLine(80, 500), {fileBytes(16000, 80000)}, kEndRun},
             endingPass(64000)}},
        // Emptied by the producer: positions -32000, then -64000 after the raise; the next pass
        // starts at 0 and probes again, again 32000 behind the end whatever the buffer size.
        LiveScenario{
            "FileTruncatedToZero",
            90000,
            {{10000, kProbeLine + statusLine(100, 250), {fileBytes(68000, 100000)}, truncateTo(0)},
             {0, kOvertakenLines + kRaisedLine + statusLine(0, 500), {zeros(64000)}, grow(30000)},
             {70000,
              kProbeLine + statusLine(100, 250),
              {fileBytes(68000, 100000), zeros(32000)},
              kEndRun},
             endingPass(64000)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
