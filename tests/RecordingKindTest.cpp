// A recording on its own, pass by pass: sent once or repeated, read again after a failed read,
// and held in memory when it is short.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stream/RecordingKind.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/FailingReads.h"
#include "tests/support/InputKindFixture.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::bytesOf;
using testing::fileBytes;
using testing::InputKindFixture;
using testing::patternBytes;
using testing::progressLine;
using testing::resizeFile;
using testing::Segment;
using testing::writeFile;
using testing::zeros;
using Outcome = Pass::Outcome;

class RecordingKindTest : public InputKindFixture {};

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct RecordedCase {
    const char* name;
    std::size_t length;
    std::vector<int> progressKb;  // first number of each progress line
    std::size_t zeroTail;         // filler after the file's bytes
};
void PrintTo(const RecordedCase& c, std::ostream* out) {
    *out << c.name;
}

class RecordedFileTest : public InputKindFixture,
                         public ::testing::WithParamInterface<RecordedCase> {};

TEST_P(RecordedFileTest, SendsTheFileOnceInFullBuffersThenReportsItSent) {
    const RecordedCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(c.length));

    EXPECT_EQ(drive(std::make_unique<RecordingKind>(source(path), std::nullopt)), Outcome::Ended);

    std::string expected;
    for (int kb : c.progressKb) {
        expected += progressLine(kb, static_cast<int>(c.length / 1000));
    }
    EXPECT_EQ(output(), expected + "File sent.\n");
    EXPECT_EQ(sent, bytesOf({fileBytes(0, c.length), zeros(c.zeroTail)}));
    EXPECT_TRUE(sleeps.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, RecordedFileTest,
    ::testing::Values(RecordedCase{"Bytes70000", 70000, {0, 32, 64, 96}, 26000},
                      // A multiple of the buffer sends one buffer of zeros.
                      RecordedCase{"Bytes64000", 64000, {0, 32, 64, 96}, 32000},
                      RecordedCase{"Empty", 0, {0, 32}, 32000},
                      RecordedCase{"OneByte", 1, {0, 32}, 31999}),
    [](const auto& info) { return std::string(info.param.name); });

// A recording repeated: its bytes end to end, the last buffer alone padded, and a file that is
// cut while it repeats measured again at the wrap, never read out of bounds or spun on.
struct RepeatCase {
    const char* name;
    std::size_t length;
    std::uint64_t times;
    // After the buffer with this index went out, the file is cut to `cutTo` bytes.
    std::size_t cutAfterBuffer;
    std::size_t cutTo;
    std::string progress;  // the progress lines of the passes, before "File sent."
    std::vector<Segment> sent;
};
void PrintTo(const RepeatCase& c, std::ostream* out) {
    *out << c.name;
}

class RepeatTest : public InputKindFixture, public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(RepeatTest, SendsTheRepetitionsEndToEndAndEnds) {
    const RepeatCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(c.length));
    afterSend = [&](std::size_t index) {
        if (index == c.cutAfterBuffer) {
            resizeFile(path, static_cast<std::int64_t>(c.cutTo));
        }
    };

    EXPECT_EQ(drive(std::make_unique<RecordingKind>(source(path), c.times)), Outcome::Ended);

    EXPECT_EQ(output(), c.progress + "File sent.\n");
    EXPECT_EQ(sent, bytesOf(c.sent));
    EXPECT_TRUE(sleeps.empty());
}

std::string repeatLine(int sentKb, int totalKb, int repetition, const char* of) {
    return "Using pre-recorded file, Sent " + std::to_string(sentKb) + " of " +
           std::to_string(totalKb) + "KB, repetition " + std::to_string(repetition) + of + "\r";
}

INSTANTIATE_TEST_SUITE_P(
    Repeat, RepeatTest,
    ::testing::Values(
        // Held in memory, as it fits a buffer.
        RepeatCase{"ShorterThanABuffer",
                   1000,
                   5,
                   SIZE_MAX,
                   0,
                   repeatLine(0, 1, 1, " of 5") + repeatLine(1, 1, 5, " of 5"),
                   {fileBytes(0, 1000), fileBytes(0, 1000), fileBytes(0, 1000), fileBytes(0, 1000),
                    fileBytes(0, 1000), zeros(27000)}},
        RepeatCase{"EmptyFileSendsNothing",
                   0,
                   3,
                   SIZE_MAX,
                   0,
                   repeatLine(0, 0, 1, " of 3") + repeatLine(0, 0, 1, " of 3"),
                   {}},
        // Emptied after two buffers while repeating without end: the wrap finds nothing left.
        RepeatCase{"EmptiedWhileRepeatingUntilStopped",
                   70000,
                   0,
                   1,
                   0,
                   repeatLine(0, 70, 1, "") + repeatLine(32, 70, 1, "") + repeatLine(64, 0, 1, "") +
                       repeatLine(0, 0, 2, ""),
                   {fileBytes(0, 64000)}},
        // Cut to 40000 bytes after the first buffer: the second repetition has 40000 bytes.
        RepeatCase{"CutShorterWhileRepeating",
                   70000,
                   2,
                   0,
                   40000,
                   repeatLine(0, 70, 1, " of 2") + repeatLine(32, 40, 1, " of 2") +
                       repeatLine(24, 40, 2, " of 2") + repeatLine(40, 40, 2, " of 2"),
                   {fileBytes(0, 40000), fileBytes(0, 40000), zeros(16000)}}),
    [](const auto& info) { return std::string(info.param.name); });

// However short the file, it is read once: the buffers come from memory, whole, the pattern
// going on across them with no gap.
TEST_F(RecordingKindTest, ShortRepeatedFileIsReadOnceAndFillsEveryBuffer) {
    for (const std::size_t length : {1, 4, 16, 32000}) {
        const std::string path = dir.file("short" + std::to_string(length) + ".iq");
        writeFile(path, patternBytes(length));
        sent.clear();
        stopAsked = false;
        afterSend = [this](std::size_t) { stopAsked = sent.size() >= 5 * 32000; };
        (void)testing::takeReadCount();

        EXPECT_EQ(drive(std::make_unique<RecordingKind>(source(path), 0)), Outcome::Stopped);

        EXPECT_EQ(testing::takeReadCount(), 1U) << length;
        std::vector<std::uint8_t> expected;
        while (expected.size() < sent.size()) {
            const auto file = patternBytes(length);
            expected.insert(expected.end(), file.begin(), file.end());
        }
        expected.resize(sent.size());
        EXPECT_EQ(sent, expected) << length;
    }
}

// A read that fails (a disk's EIO, a network file system's ESTALE) is no end of the file: it is
// said, with its reason once, the pass is tried again after a pause, and no byte of the file is
// ever replaced by zeros.
struct ReadErrorCase {
    const char* name;
    std::size_t length;
    std::optional<std::uint64_t> repeat;
    std::int64_t failAt;  // the offset of the read that fails
    int error;
    int times;
    std::string reason;
    std::vector<Segment> sent;
};
void PrintTo(const ReadErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadErrorTest : public InputKindFixture,
                      public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorTest, IsSaidAndTheSamePassTriedAgain) {
    const ReadErrorCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(c.length));
    testing::failReadsAt(c.failAt, c.error, c.times);

    EXPECT_EQ(drive(std::make_unique<RecordingKind>(source(path), c.repeat)), Outcome::Ended);

    EXPECT_EQ(sent, bytesOf(c.sent));
    EXPECT_EQ(countOf(output(), "Error reading " + path + "!\n"),
              static_cast<std::size_t>(c.times));
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome::Pause), c.times);
    EXPECT_EQ(errorOutput(), "iqfeeder: " + path + ": " + c.reason + "\n");
    testing::failReadsAt(-1, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, ReadErrorTest,
                         ::testing::Values(ReadErrorCase{"OnceInTheSecondBuffer",
                                                         70000,
                                                         std::nullopt,
                                                         32000,
                                                         EIO,
                                                         1,
                                                         "Input/output error",
                                                         {fileBytes(0, 70000), zeros(26000)}},
                                           ReadErrorCase{"TwiceWhileRepeating",
                                                         70000,
                                                         2,
                                                         32000,
                                                         ESTALE,
                                                         2,
                                                         "Stale file handle",
                                                         {fileBytes(0, 70000), fileBytes(0, 70000),
                                                          zeros(20000)}},
                                           ReadErrorCase{"AShortFileBeforeItIsHeld",
                                                         1000,
                                                         3,
                                                         0,
                                                         EIO,
                                                         1,
                                                         "Input/output error",
                                                         {fileBytes(0, 1000), fileBytes(0, 1000),
                                                          fileBytes(0, 1000), zeros(29000)}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
