#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <regex>

#include "tests/support/ExpectedLines.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::progressLine;
using testing::resizeFile;
using testing::RunFixture;
using testing::writeFile;
using testing::WriteResult;

class StreamRunnerTest : public RunFixture {};

std::vector<std::uint8_t> withZeros(std::vector<std::uint8_t> bytes, std::size_t zeros) {
    bytes.resize(bytes.size() + zeros, 0);
    return bytes;
}

struct RecordedCase {
    const char* name;
    std::size_t length;
    std::vector<int> progressKb;  // first number of each progress line
    std::size_t zeroTail;         // filler after the file's bytes
};

class RecordedFileTest : public RunFixture, public ::testing::WithParamInterface<RecordedCase> {};

TEST_P(RecordedFileTest, SendsTheFileOnceInFullBuffersThenReportsItSent) {
    const RecordedCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(c.length));

    EXPECT_EQ(run(path), 0);

    std::string expected = preamble(path) + kProbeLine;
    for (int kb : c.progressKb) {
        expected += progressLine(kb, static_cast<int>(c.length / 1000));
    }
    expected += "File sent.\n";
    EXPECT_EQ(output(), expected);
    EXPECT_EQ(driver.bytes, withZeros(patternBytes(c.length), c.zeroTail));
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>{2000});
    EXPECT_EQ(driver.calls.back(), "close");
    EXPECT_FALSE(driver.handleOpen);
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
    // After the write with this index, the file is cut to `cutTo` bytes.
    std::size_t cutAfterWrite;
    std::size_t cutTo;
    std::string progress;  // the progress lines of the passes, before "File sent."
    std::vector<testing::Segment> sent;
};
void PrintTo(const RepeatCase& c, std::ostream* out) {
    *out << c.name;
}

class RepeatTest : public RunFixture, public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(RepeatTest, SendsTheRepetitionsEndToEndAndEnds) {
    const RepeatCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(c.length));
    driver.afterWrite = [&](std::size_t index) {
        if (index == c.cutAfterWrite) {
            resizeFile(path, static_cast<std::int64_t>(c.cutTo));
        }
    };
    RunOptions options;
    options.inputPath = path;
    options.repeat = c.times;

    EXPECT_EQ(run(options), 0);

    EXPECT_EQ(output(), preamble(path) + kProbeLine + c.progress + "File sent.\n");
    EXPECT_EQ(driver.bytes, testing::bytesOf(c.sent));
    EXPECT_EQ(driver.calls.back(), "close");
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>{2000});
}

std::string repeatLine(int sentKb, int totalKb, int repetition, const char* of) {
    return "Using pre-recorded file, Sent " + std::to_string(sentKb) + " of " +
           std::to_string(totalKb) + "KB, repetition " + std::to_string(repetition) + of + "\r";
}

using testing::fileBytes;
using testing::zeros;

INSTANTIATE_TEST_SUITE_P(
    Repeat, RepeatTest,
    ::testing::Values(
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
                   9,
                   0,
                   repeatLine(0, 70, 1, "") + repeatLine(32, 70, 1, "") + repeatLine(64, 0, 1, "") +
                       repeatLine(0, 0, 2, ""),
                   {fileBytes(0, 64000)}},
        // Cut to 40000 bytes after the first buffer: the second repetition has 40000 bytes.
        RepeatCase{"CutShorterWhileRepeating",
                   70000,
                   2,
                   4,
                   40000,
                   repeatLine(0, 70, 1, " of 2") + repeatLine(32, 40, 1, " of 2") +
                       repeatLine(24, 40, 2, " of 2") + repeatLine(40, 40, 2, " of 2"),
                   {fileBytes(0, 40000), fileBytes(0, 40000), zeros(16000)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamRunnerTest, LiveFileIgnoresRepeatWithANote) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(100000));
    onSleep = [&](std::uint32_t) { appendPattern(path, 50000); };
    driver.afterWrite = [&](std::size_t index) {
        if (index == 4) {
            resizeFile(path, testing::kLengthThatEndsALiveRun);
        }
    };
    RunOptions options;
    options.inputPath = path;
    options.repeat = 3;
    EXPECT_EQ(run(options), 0);
    EXPECT_TRUE(output().starts_with(preamble(path) + kProbeLine +
                                     "Status: Size of pipe file is: 150 KBytes, Delay: 250ms\r"));
    EXPECT_EQ(errorOutput(), "iqfeeder: " + path +
                                 " grows, so it is followed as a live file and --repeat is "
                                 "ignored\n" +
                                 testing::kCapLine);
}

TEST_F(StreamRunnerTest, LongFileStopsAtThePositionCapWithLengthSaturatedAbove2GiB) {
    // 3 GB: a length that wraps in 32 bits would end the run at once with nothing sent.
    const std::string path = dir.file("long.iq");
    writeFile(path, patternBytes(1000));
    resizeFile(path, 3000000000LL);
    driver.keepBytes = false;

    EXPECT_EQ(run(path), 0);

    EXPECT_EQ(driver.byteCount, 500000000U);
    EXPECT_EQ(driver.nonZeroBytes, 1000U);
    const std::string text = output();
    EXPECT_EQ(text.find("File sent."), std::string::npos);
    const std::string last = progressLine(499968, 2147483);
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_EQ(driver.calls.back(), "close");
}

TEST_F(StreamRunnerTest, WithoutADeviceEveryPassReportsOneFailedWriteAndTheFileStillFinishes) {
    driver.descriptions.clear();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(40000));

    EXPECT_EQ(run(path), 0);

    const std::string failed = "FT_W32_WriteFile Failed\n";
    EXPECT_EQ(output(), kNoDeviceLines + "Input file is " + path +
                            "\nSending IQ data to FTDI USB device.....\n\n" + kProbeLine +
                            progressLine(0, 40) + failed + progressLine(32, 40) + failed +
                            progressLine(64, 40) + "File sent.\n");
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"count"}));
    // Each buffer that did not reach a device waits as long as one would have taken it.
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{2000, 250, 250}));
}

// With --reconnect: a device gone in the middle of a recording, and one not there at the start,
// each back after a while. The recording waits for it and goes on with the next buffer; what of
// the lost buffer the device had not taken is the device link's to send again.
struct ReconnectCase {
    const char* name;
    std::size_t failAtWrite;  // the write at which the device goes; SIZE_MAX: absent from the start
    std::string lines;        // what the console shows of the loss and the return
    int lastPassKb;           // the first number of the progress line before "File sent."
    std::vector<testing::Segment> sent;
    std::vector<std::string> lastCalls;
};
void PrintTo(const ReconnectCase& c, std::ostream* out) {
    *out << c.name;
}

class ReconnectTest : public RunFixture, public ::testing::WithParamInterface<ReconnectCase> {};

TEST_P(ReconnectTest, RecordingWaitsForTheDeviceAndSkipsNothing) {
    const ReconnectCase& c = GetParam();
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(70000));
    const bool absentAtStart = c.failAtWrite == SIZE_MAX;
    bool gone = absentAtStart;
    driver.countStatus = absentAtStart ? FT_DEVICE_NOT_FOUND : FT_OK;
    driver.writeResult = [&](std::size_t index) {
        if (index == c.failAtWrite) {
            gone = true;
            driver.countStatus = FT_DEVICE_NOT_FOUND;
        }
        return gone ? WriteResult{FT_IO_ERROR, 0} : WriteResult{};
    };
    // Back once 1500 ms have gone by on the run's clock.
    onSleep = [&](std::uint32_t) {
        if (gone && clockMs >= 3500) {
            gone = false;
            driver.countStatus = FT_OK;
        }
    };
    RunOptions options;
    options.inputPath = path;
    options.reconnect = true;

    EXPECT_EQ(run(options), 0);

    const std::string text = output();
    EXPECT_NE(text.find(c.lines), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(progressLine(c.lastPassKb, 70) + "File sent.\n")) << text;
    EXPECT_EQ(driver.bytes, testing::bytesOf(c.sent));
    EXPECT_EQ(std::vector<std::string>(driver.calls.end() - 3, driver.calls.end()), c.lastCalls);
    EXPECT_FALSE(driver.usedBadHandle);
}

using testing::fileBytes;
using testing::zeros;

INSTANTIATE_TEST_SUITE_P(
    Reconnect, ReconnectTest,
    ::testing::Values(
        // The second slice of the second buffer fails: the recording waits, then goes on at
        // 64000.
        ReconnectCase{"LostMidRecording",
                      6,
                      progressLine(32, 70) + "FTDI device lost, looking for it.....\n" +
                          "FTDI device back, streaming on.\n" + progressLine(64, 70),
                      96,
                      {fileBytes(0, 38400), fileBytes(64000, 70000), zeros(26000)},
                      {"write 6400", "write 6400", "close"}},
        ReconnectCase{"AbsentAtTheStart",
                      SIZE_MAX,
                      "Can't open FTDI Device.\nWaiting for the FTDI device.....\n",
                      96,
                      {fileBytes(0, 70000), zeros(26000)},
                      {"write 6400", "write 6400", "close"}}),
    [](const auto& info) { return std::string(info.param.name); });

// With --stats, on the run's clock: a device taking 160000 bytes a second, and an encoder 2 %
// slower, 2 % faster or as fast. Over 10 s, only a difference of more than 1 % gets advice.
struct RatesCase {
    const char* name;
    std::uint64_t encoderBytesPerSecond;
    std::string advice;  // empty: none
};
void PrintTo(const RatesCase& c, std::ostream* out) {
    *out << c.name;
}

class RatesTest : public RunFixture, public ::testing::WithParamInterface<RatesCase> {};

TEST_P(RatesTest, SaysWhichSideIsFasterAndWhatFollows) {
    const RatesCase& c = GetParam();
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(400000));
    onSleep = [&](std::uint32_t ms) {
        appendPattern(path, static_cast<std::size_t>(c.encoderBytesPerSecond * ms / 1000));
    };
    // Each slice takes the device its time at 160000 bytes a second (40 ms for 6400), while the
    // encoder goes on writing.
    driver.afterWrite = [&](std::size_t) {
        const std::uint64_t ms = driver.writeSizes.back() / 160;
        clockMs += ms;
        appendPattern(path, static_cast<std::size_t>(c.encoderBytesPerSecond * ms / 1000));
        stopAsked = clockMs >= 16000;
    };
    RunOptions options;
    options.inputPath = path;
    options.stats = true;

    EXPECT_EQ(run(options), 0);

    const std::string errors = errorOutput();
    const std::size_t secondLineAt = errors.find('\n') + 1;
    const std::string secondLine =
        errors.substr(secondLineAt, errors.find('\n', secondLineAt) + 1 - secondLineAt);
    EXPECT_TRUE(std::regex_match(
        secondLine, std::regex("iqfeeder: device [0-9.]+ kB/s \\(average [0-9.]+ kB/s\\); encoder "
                               "[0-9.]+ kB/s, backlog [0-9.]+ s; step-backs [0-9]+, jump-aheads "
                               "[0-9]+, failed writes 0, short writes 0, reconnects 0\n")))
        << secondLine;
    EXPECT_NE(errors.find("iqfeeder: device 160.0 kB/s"), std::string::npos) << errors;
    const std::size_t advice = errors.find("over the last");
    if (c.advice.empty()) {
        EXPECT_EQ(advice, std::string::npos) << errors;
    } else {
        ASSERT_NE(advice, std::string::npos) << errors;
        EXPECT_EQ(errors.substr(advice, c.advice.size()), c.advice);
    }
    EXPECT_TRUE(errors.find("iqfeeder: in all, ") != std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, RatesTest,
    ::testing::Values(
        RatesCase{"Slower", 156800,
                  "over the last 10 s the encoder was 2.0 % slower than the device (156.8 kB/s "
                  "against 160.0 kB/s): the reader will keep stepping back and sending data "
                  "again; raise the encoder's rate to the device's, or lower the device's\n"},
        RatesCase{"Faster", 163200,
                  "over the last 10 s the encoder was 2.0 % faster than the device (163.2 kB/s "
                  "against 160.0 kB/s): the reader will keep jumping ahead and dropping data; "
                  "lower the encoder's rate to the device's, or raise the device's\n"},
        RatesCase{"AsFast", 160000, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Past 2 GiB: held at 2^31 - 1, a growing file looks unchanged and goes out as a recording;
// with --unlimited it is followed near its end.
TEST_F(StreamRunnerTest, UnlimitedFollowsALiveFilePast2GiBNearItsEnd) {
    for (const bool unlimited : {false, true}) {
        const std::string path = dir.file(unlimited ? "unlimited.iq" : "limited.iq");
        writeFile(path, {});
        resizeFile(path, 3000000000LL);
        onSleep = [&](std::uint32_t ms) {
            if (ms == 2000) {
                appendPattern(path, 50000);
            }
        };
        driver.bytes.clear();
        driver.afterWrite = [&](std::size_t index) { stopAsked = index % 5 == 4; };
        stopAsked = false;
        out.str("");
        RunOptions options;
        options.inputPath = path;
        options.unlimited = unlimited;

        EXPECT_EQ(run(options), 0);

        const std::string shows =
            unlimited ? "Status: Size of pipe file is: 3000050 KBytes, Delay: 250ms\r"
                      : progressLine(0, 2147483);
        EXPECT_TRUE(output().ends_with(kProbeLine + shows)) << output();
        EXPECT_EQ(driver.bytes, unlimited ? patternBytes(32000, 3000018000U)
                                          : std::vector<std::uint8_t>(32000, 0));
    }
}

TEST_F(StreamRunnerTest, MissingInputEndsTheRunWithStatusOneAndTheDeviceClosed) {
    const std::string path = dir.file("no such file.iq");
    EXPECT_EQ(run(path), 1);
    EXPECT_EQ(output(), preamble(path) + "Error opening " + path + ", Check file exists!\n");
    EXPECT_TRUE(driver.writeSizes.empty());
    EXPECT_EQ(driver.calls.back(), "close");
    EXPECT_FALSE(driver.handleOpen);
}

TEST_F(StreamRunnerTest, StopDuringTheProbeSendsNothingAndClosesTheDevice) {
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(70000));
    onSleep = [&](std::uint32_t) { stopAsked = true; };
    EXPECT_EQ(run(path), 0);
    EXPECT_EQ(output(), preamble(path) + kProbeLine);
    EXPECT_TRUE(driver.writeSizes.empty());
    EXPECT_EQ(driver.calls.back(), "close");
}

TEST_F(StreamRunnerTest, StopMidBufferEndsTheRunAfterTheSliceOnItsWay) {
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(70000));
    driver.afterWrite = [&](std::size_t index) { stopAsked = index == 6; };
    EXPECT_EQ(run(path), 0);
    EXPECT_EQ(output(), preamble(path) + kProbeLine + progressLine(0, 70) + progressLine(32, 70));
    EXPECT_EQ(driver.bytes, patternBytes(44800));
    EXPECT_EQ(driver.calls.back(), "close");
    EXPECT_FALSE(driver.handleOpen);
}

TEST_F(StreamRunnerTest, InputVanishingDuringTheFirstProbeEndsTheRun) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(1000));
    onSleep = [&](std::uint32_t) { std::filesystem::remove(path); };
    EXPECT_EQ(run(path), 1);
    EXPECT_EQ(output(),
              preamble(path) + kProbeLine + "Error opening " + path + ", Check file exists!\n");
    EXPECT_TRUE(driver.writeSizes.empty());
    EXPECT_EQ(driver.calls.back(), "close");
}

struct NotRegularCase {
    const char* name;
    std::function<std::string(const testing::TempDir&)> makePath;
};

class NotRegularFileTest : public RunFixture,
                           public ::testing::WithParamInterface<NotRegularCase> {};

TEST_P(NotRegularFileTest, IsRefusedWithoutOpeningIt) {
    const std::string path = GetParam().makePath(dir);
    EXPECT_EQ(run(path), 1);
    EXPECT_EQ(output(), preamble(path) + "Error opening " + path + ", not a regular file!\n");
    EXPECT_TRUE(driver.writeSizes.empty());
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(driver.calls.back(), "close");
}

const std::vector<NotRegularCase> kNotRegularCases{
    NotRegularCase{"Directory", [](const testing::TempDir& d) { return d.path().string(); }},
#ifdef _WIN32
    NotRegularCase{"Device", [](const testing::TempDir&) { return std::string("NUL"); }},
#else
    NotRegularCase{"DeviceNode", [](const testing::TempDir&) { return std::string("/dev/null"); }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Paths, NotRegularFileTest, ::testing::ValuesIn(kNotRegularCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamRunnerTest, InputMissingMidRunIsRetriedAfterAPauseAtTheSamePosition) {
    const std::string path = dir.file("recording.iq");
    const std::string aside = dir.file("aside.iq");
    writeFile(path, patternBytes(70000));
    // After the first buffer the file disappears; it is back after one pause.
    driver.afterWrite = [&](std::size_t index) {
        if (index == 4) {
            std::filesystem::rename(path, aside);
        }
    };
    onSleep = [&](std::uint32_t ms) {
        if (ms == 1000) {
            std::filesystem::rename(aside, path);
        }
    };

    EXPECT_EQ(run(path), 0);

    EXPECT_EQ(output(), preamble(path) + kProbeLine + progressLine(0, 70) + "Error opening " +
                            path + ", Check file exists!\n" + progressLine(32, 70) +
                            progressLine(64, 70) + progressLine(96, 70) + "File sent.\n");
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{2000, 1000}));
    EXPECT_EQ(driver.bytes, withZeros(patternBytes(70000), 26000));
}

TEST_F(StreamRunnerTest, FileGrowingDuringTheProbeIsReadFrom32000BehindItsEnd) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(100000));
    onSleep = [&](std::uint32_t) { appendPattern(path, 50000); };
    // One live pass, then the producer leaps far ahead so the run reaches the position cap.
    driver.afterWrite = [&](std::size_t index) {
        if (index == 4) {
            resizeFile(path, testing::kLengthThatEndsALiveRun);
        }
    };

    EXPECT_EQ(run(path), 0);

    EXPECT_EQ(output(), preamble(path) + kProbeLine +
                            "Status: Size of pipe file is: 150 KBytes, Delay: 250ms\r"
                            "\nDelay too high, re-started buffer..\n"
                            "Status: Size of pipe file is: 500032 KBytes, Delay: 250ms\r");
    ASSERT_EQ(driver.bytes.size(), 64000U);
    EXPECT_EQ(std::vector<std::uint8_t>(driver.bytes.begin(), driver.bytes.begin() + 32000),
              patternBytes(32000, 118000));
    EXPECT_EQ(driver.nonZeroBytes, 32000U);
    EXPECT_EQ(driver.calls.back(), "close");
}

TEST_F(StreamRunnerTest, LiveFileShorterThanTheBufferIsReadFromItsStart) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(10000));
    onSleep = [&](std::uint32_t) { appendPattern(path, 10000); };
    driver.afterWrite = [&](std::size_t index) {
        if (index == 4) {
            resizeFile(path, testing::kLengthThatEndsALiveRun);
        }
    };

    EXPECT_EQ(run(path), 0);

    EXPECT_TRUE(output().starts_with(preamble(path) + kProbeLine +
                                     "Status: Size of pipe file is: 20 KBytes, Delay: 250ms\r"));
    EXPECT_EQ(std::vector<std::uint8_t>(driver.bytes.begin(), driver.bytes.begin() + 32000),
              withZeros(patternBytes(20000), 12000));
}

}  // namespace
}  // namespace iqfeeder
