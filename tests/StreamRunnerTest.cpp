#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <thread>

#include "app/ServiceNotifier.h"
#include "common/ConsoleOutput.h"
#include "common/SystemError.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/RunFixture.h"
#include "tests/support/Segment.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::FakeDriver;
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

// The position cap ends a recording run: on standard error only when the file held more. 3 GB
// tests the length held at 2^31 - 1 too: one that wrapped in 32 bits would end the run at once.
TEST_F(StreamRunnerTest, PositionCapEndsALongRecordingAndSaysSoOnlyWhenSomethingWasLeft) {
    for (const std::int64_t length : {3000000000LL, 500000000LL}) {
        const std::string path = dir.file("long" + std::to_string(length) + ".iq");
        writeFile(path, patternBytes(1000));
        resizeFile(path, length);
        driver.keepBytes = false;
        driver.byteCount = 0;
        driver.nonZeroBytes = 0;
        out.str("");
        errors.str("");

        EXPECT_EQ(run(path), 0);

        EXPECT_EQ(driver.byteCount, 500000000U);
        EXPECT_EQ(driver.nonZeroBytes, 1000U);
        const std::string text = output();
        EXPECT_EQ(text.find("File sent."), std::string::npos);
        const std::string last =
            progressLine(499968, std::min<std::int64_t>(length, 2147483647) / 1000);
        EXPECT_TRUE(text.ends_with(last)) << length;
        EXPECT_EQ(errorOutput(), length > 500000000 ? testing::kCapLine : "") << length;
        EXPECT_EQ(driver.calls.back(), "close");
    }
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
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"list"}));
    // Each buffer that did not reach a device waits as long as one would have taken it.
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{2000, 250, 250}));
}

// A device that takes only part of every write: each short slice said once, and the rest of it
// goes next, so the recording arrives whole and in order, and with nothing left undelivered
// there is nothing to pace.
TEST_F(StreamRunnerTest, ShortWritesAreSaidOnceASliceAndTheirRestGoesNext) {
    driver.writeResult = [](std::size_t) { return WriteResult{SliceFate::Taken, 1000}; };
    const std::string path = dir.file("recording.iq");
    writeFile(path, patternBytes(40000));

    EXPECT_EQ(run(path), 0);

    std::string timeOuts;
    for (int i = 0; i < 5; ++i) {
        timeOuts += "FT_W32_WriteFile TimeOut\n";
    }
    EXPECT_EQ(output(), preamble(path) + kProbeLine + progressLine(0, 40) + timeOuts +
                            progressLine(32, 40) + timeOuts + progressLine(64, 40) +
                            "File sent.\n");
    auto expected = patternBytes(40000);
    expected.resize(64000, 0);
    EXPECT_TRUE(driver.bytes == expected);
    EXPECT_EQ(driver.writeSizes.size(), 70U);  // 6400 bytes a slice, 1000 a write
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{2000}));
}

// With --reconnect: a device gone in the middle of a recording, and one not there at the start,
// each back after a while. The recording waits for it, and what the device did not take goes
// out first, so nothing of it is skipped.
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
    driver.unplugged = absentAtStart;
    driver.writeResult = [&](std::size_t index) {
        driver.unplugged = driver.unplugged || index == c.failAtWrite;
        return WriteResult{};
    };
    // Back once 1500 ms have gone by on the run's clock.
    onSleep = [&](std::uint32_t) {
        if (driver.unplugged && clockMs >= 3500) {
            driver.unplugged = false;
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
        // The second slice of the second buffer fails: it and the rest of its buffer go first.
        ReconnectCase{"LostMidRecording",
                      6,
                      progressLine(32, 70) + "FTDI device lost, looking for it.....\n" +
                          "FTDI device back, streaming on.\n" + progressLine(64, 70),
                      96,
                      {fileBytes(0, 70000), zeros(26000)},
                      {"write 6400", "write 6400", "close"}},
        ReconnectCase{"AbsentAtTheStart",
                      SIZE_MAX,
                      "Can't open FTDI Device.\nWaiting for the FTDI device.....\n",
                      96,
                      {fileBytes(0, 70000), zeros(26000)},
                      {"write 6400", "write 6400", "close"}}),
    [](const auto& info) { return std::string(info.param.name); });

// With --reconnect, the device unplugged at each slice of the second buffer, for each input kind
// that must reach it whole, with a driver that confirms each slice at once and with one that
// confirms two slices late (the chip never got those two, or got them unconfirmed). Every byte
// reaches the device in order; at most the two unconfirmed slices go twice.
std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

enum class LossInput { Recording, Repeat, Stream };
enum class Confirms { AtOnce, TwoLateLost, TwoLateArrived };
struct LossCase {
    LossInput kind;
    std::size_t slice;  // of the second buffer
    Confirms confirms;
};
void PrintTo(const LossCase& c, std::ostream* out) {
    *out << static_cast<int>(c.kind) << "/" << c.slice << "/" << static_cast<int>(c.confirms);
}

class LossTest : public RunFixture, public ::testing::WithParamInterface<LossCase> {};

TEST_P(LossTest, EveryByteReachesTheDeviceInOrderWithAtMostTwoSlicesTwice) {
    const LossCase& c = GetParam();
    std::string path = dir.file("recording.iq");
    RunOptions options;
    options.reconnect = true;
    std::vector<std::uint8_t> expected = patternBytes(70000);
    if (c.kind == LossInput::Repeat) {
        options.repeat = 2;
        const auto again = patternBytes(70000);
        expected.insert(expected.end(), again.begin(), again.end());
    }
    expected.resize(expected.size() + 32000 - expected.size() % 32000, 0);
#ifndef _WIN32
    std::thread writer;
    if (c.kind == LossInput::Stream) {
        path = dir.file("encoder.fifo");
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        writer = std::thread([&path] {
            const int fd = ::open(path.c_str(), O_WRONLY);
            const auto bytes = patternBytes(70000);
            const bool whole = ::write(fd, bytes.data(), bytes.size()) == 70000;
            ::close(fd);
            EXPECT_TRUE(whole);
        });
    }
#else
    if (c.kind == LossInput::Stream) {
        GTEST_SKIP() << "a FIFO is a POSIX stream";
    }
#endif
    if (c.kind != LossInput::Stream) {
        writeFile(path, patternBytes(70000));
    }
    options.inputPath = path;
    driver.confirmLag = c.confirms == Confirms::AtOnce ? 0 : 2;
    driver.inFlightArrives = c.confirms == Confirms::TwoLateArrived;
    driver.writeResult = [&](std::size_t index) {
        driver.unplugged = driver.unplugged || index == 5 + c.slice;
        return WriteResult{};
    };
    std::size_t waitsWhileGone = 0;
    onSleep = [&](std::uint32_t) {
        if (driver.unplugged && ++waitsWhileGone == 2) {
            driver.unplugged = false;
        }
    };

    EXPECT_EQ(run(options), 0);
#ifndef _WIN32
    if (writer.joinable()) {
        writer.join();
    }
#endif

    EXPECT_TRUE(testing::sentWithOneRewind(driver.bytes, expected, 6400, 2))
        << driver.bytes.size() << " bytes sent";
    EXPECT_EQ(countOf(output(), "FTDI device lost, looking for it.....\n"), 1U);
    EXPECT_EQ(countOf(output(), "FTDI device back, streaming on.\n"), 1U);
    EXPECT_EQ(countOf(output(), "FT_W32"), 0U);
    EXPECT_FALSE(driver.serialsAskedWhileOpen);
    EXPECT_FALSE(driver.usedBadHandle);
}

std::vector<LossCase> lossCases() {
    std::vector<LossCase> cases;
    for (const LossInput kind : {LossInput::Recording, LossInput::Repeat, LossInput::Stream}) {
        for (std::size_t slice = 0; slice < 5; ++slice) {
            for (const Confirms confirms :
                 {Confirms::AtOnce, Confirms::TwoLateLost, Confirms::TwoLateArrived}) {
                cases.push_back({kind, slice, confirms});
            }
        }
    }
    return cases;
}

std::string lossCaseName(const ::testing::TestParamInfo<LossCase>& info) {
    const char* kinds[] = {"Recording", "Repeat", "Stream"};
    const char* confirms[] = {"ConfirmedAtOnce", "TwoLateLost", "TwoLateArrived"};
    return std::string(kinds[static_cast<int>(info.param.kind)]) + "AtSlice" +
           std::to_string(info.param.slice) + confirms[static_cast<int>(info.param.confirms)];
}

INSTANTIATE_TEST_SUITE_P(Unplugged, LossTest, ::testing::ValuesIn(lossCases()), lossCaseName);

// The device gone with the run's last slices on their way, two slices from being confirmed:
// said like any failed write, and with --reconnect they go out once it is back, before the
// run ends.
TEST_F(StreamRunnerTest, LastSlicesLostAtTheEndAreSaidAndWithReconnectSentOnceTheDeviceIsBack) {
    for (const bool reconnect : {false, true}) {
        FakeDriver& device = driver;
        device = FakeDriver{};
        out.str("");
        device.confirmLag = 2;
        device.inFlightArrives = true;
        const std::string path = dir.file("end.iq");
        writeFile(path, patternBytes(64000));
        // The last write of the run: 64000 bytes and one buffer of zeros, fifteen slices.
        device.afterWrite = [&device](std::size_t index) { device.unplugged = index == 14; };
        onSleep = [&device](std::uint32_t) { device.unplugged = false; };
        RunOptions options;
        options.inputPath = path;
        options.reconnect = reconnect;

        EXPECT_EQ(run(options), 0);

        const std::string ending = reconnect ? "File sent.\nFTDI device lost, looking for it.....\n"
                                               "FTDI device back, streaming on.\n"
                                             : "File sent.\nFT_W32_WriteFile Failed\n";
        EXPECT_TRUE(output().ends_with(ending)) << output();
        auto expected = patternBytes(64000);
        expected.resize(96000, 0);
        // The chip got the last two slices, but could not confirm them: sent again.
        EXPECT_EQ(device.bytes.size(), reconnect ? 96000U + 12800U : 96000U) << reconnect;
        EXPECT_TRUE(testing::sentWithOneRewind(device.bytes, expected, 6400, 2)) << reconnect;
        EXPECT_EQ(device.calls.back(), "close") << reconnect;
        EXPECT_FALSE(device.handleOpen) << reconnect;
    }
}

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

// --live: whatever the file does at start it is waited on, with one line, until it grows; then
// it is followed from 32000 bytes behind its end, and nothing it held before is ever sent. The
// run is stopped after `stopAfterWrites` slices.
struct LiveOnlyCase {
    const char* name;
    std::optional<std::size_t> length;  // none: missing at start
    // At each wait (1-based), as the encoder would do meanwhile.
    std::function<void(const std::string& path, std::size_t wait)> encoder;
    // After a slice (0-based), as the encoder would do meanwhile.
    std::function<void(const std::string& path, std::size_t write)> afterWrite;
    std::size_t stopAfterWrites;
    std::string lines;  // after the preamble; "PATH" stands for the file's path
    std::vector<testing::Segment> sent;
    std::size_t waits;
};
void PrintTo(const LiveOnlyCase& c, std::ostream* out) {
    *out << c.name;
}

class LiveOnlyTest : public RunFixture, public ::testing::WithParamInterface<LiveOnlyCase> {};

TEST_P(LiveOnlyTest, WaitsUntilTheFileGrowsAndNeverSendsWhatWasThere) {
    const LiveOnlyCase& c = GetParam();
    const std::string path = dir.file("live.iq");
    if (c.length) {
        writeFile(path, patternBytes(*c.length));
    }
    onSleep = [&](std::uint32_t) {
        if (c.encoder) {
            c.encoder(path, sleeps.size());
        }
    };
    driver.afterWrite = [&](std::size_t index) {
        if (c.afterWrite) {
            c.afterWrite(path, index);
        }
        stopAsked = index + 1 >= c.stopAfterWrites;
    };
    RunOptions options;
    options.inputPath = path;
    options.live = true;

    EXPECT_EQ(run(options), 0);

    std::string lines = c.lines;
    for (std::size_t at = lines.find("PATH"); at != std::string::npos; at = lines.find("PATH")) {
        lines.replace(at, 4, path);
    }
    EXPECT_EQ(output(), preamble(path) + lines);
    EXPECT_EQ(driver.bytes, testing::bytesOf(c.sent));
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>(c.waits, 1000));
    EXPECT_EQ(driver.calls.back(), "close");
}

// The encoder appends `bytes` at wait `at`.
std::function<void(const std::string&, std::size_t)> appendsAt(std::size_t at, std::size_t bytes) {
    return [at, bytes](const std::string& path, std::size_t wait) {
        if (wait == at) {
            appendPattern(path, bytes);
        }
    };
}

INSTANTIATE_TEST_SUITE_P(
    Live, LiveOnlyTest,
    ::testing::Values(
        // Yesterday's file, and an encoder that starts three waits later.
        LiveOnlyCase{"LateEncoder",
                     100000,
                     appendsAt(3, 50000),
                     {},
                     5,
                     "Waiting for PATH to grow.....\n"
                     "Status: Size of pipe file is: 150 KBytes, Delay: 250ms\r",
                     {fileBytes(118000, 150000)},
                     3},
        // Grown by less than a buffer: read from the old end, and a step back stops there too.
        LiveOnlyCase{
            "SmallGrowthStartsAtTheOldEnd",
            100000,
            appendsAt(2, 10000),
            {},
            10,
            "Waiting for PATH to grow.....\n"
            "Status: Size of pipe file is: 110 KBytes, Delay: 78ms\r"
            "\nInput stream bitrate not high enough\n"
            "Increasing buffer to 64000Bytes\n"
            "Status: Size of pipe file is: 110 KBytes, Delay: 500ms\r",
            {fileBytes(100000, 110000), zeros(22000), fileBytes(100000, 110000), zeros(54000)},
            2},
        LiveOnlyCase{"MissingThenCreated",
                     std::nullopt,
                     appendsAt(2, 50000),
                     {},
                     5,
                     "Waiting for PATH to be created.....\n"
                     "Status: Size of pipe file is: 50 KBytes, Delay: 250ms\r",
                     {fileBytes(18000, 50000)},
                     2},
        LiveOnlyCase{"EmptyThenGrows",
                     0,
                     appendsAt(2, 40000),
                     {},
                     5,
                     "Waiting for PATH to grow.....\n"
                     "Status: Size of pipe file is: 40 KBytes, Delay: 250ms\r",
                     {fileBytes(8000, 40000)},
                     2},
        // Growing at once, then cut to nothing by an encoder's restart that stays quiet for
        // three waits: followed from its new end, never sent as a recording.
        LiveOnlyCase{"TruncatedAndPaused",
                     100000,
                     [](const std::string& path, std::size_t wait) {
                         appendsAt(1, 50000)(path, wait);
                         appendsAt(4, 40000)(path, wait);
                     },
                     [](const std::string& path, std::size_t write) {
                         if (write == 4) {
                             resizeFile(path, 0);
                         }
                     },
                     10,
                     "Status: Size of pipe file is: 150 KBytes, Delay: 250ms\r"
                     "Input file PATH shrank: waiting for it to grow.....\n"
                     "Status: Size of pipe file is: 40 KBytes, Delay: 250ms\r",
                     {fileBytes(118000, 150000), fileBytes(8000, 40000)},
                     4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamRunnerTest, LiveFileThatNeverAppearsIsWaitedOnWithOneLineAndOneReason) {
    const std::string path = dir.file("live.iq");
    onSleep = [&](std::uint32_t) { stopAsked = sleeps.size() == 5; };
    RunOptions options;
    options.inputPath = path;
    options.live = true;

    EXPECT_EQ(run(options), 0);

    EXPECT_EQ(output(), preamble(path) + "Waiting for " + path + " to be created.....\n");
    // The system's words for a missing file; ENOENT is also Windows's ERROR_FILE_NOT_FOUND, 2.
    EXPECT_EQ(errorOutput(), "iqfeeder: " + path + ": " + systemErrorText(ENOENT) + "\n");
    EXPECT_TRUE(driver.bytes.empty());
    EXPECT_EQ(driver.calls.back(), "close");
}

// Under a service manager with a 4 s watchdog, as systemd's socket would hear it: ready before
// anything is sent, the status at most once a second, alive every 2 s through the waits and the
// writes, and stopping last.
class RecordingNotifier : public ServiceNotifier {
  public:
    explicit RecordingNotifier(const std::uint64_t& clockMs) : clockMs_(clockMs) {}
    void notify(const std::string& message) override { heard.push_back({clockMs_, message}); }

    struct Message {
        std::uint64_t atMs;
        std::string text;
    };
    std::vector<Message> heard;

  private:
    const std::uint64_t& clockMs_;
};

TEST_F(StreamRunnerTest, ServiceManagerHearsReadyStatusAliveAndStoppingInTurn) {
    const std::string path = dir.file("live.iq");
    writeFile(path, patternBytes(100000));
    onSleep = [&](std::uint32_t) {
        if (sleeps.size() == 3) {
            appendPattern(path, 200000);
        }
    };
    // A device taking 160000 bytes a second, and an encoder keeping up with it.
    driver.afterWrite = [&](std::size_t) {
        clockMs += 40;
        appendPattern(path, 6400);
        stopAsked = clockMs >= 9000;
    };
    RecordingNotifier notifier(clockMs);
    ServiceMonitor service(
        notifier, [this] { return clockMs; }, 4000);
    monitor = &service;
    RunOptions options;
    options.inputPath = path;
    options.live = true;

    EXPECT_EQ(run(options), 0);

    const auto& heard = notifier.heard;
    ASSERT_GE(heard.size(), 4U);
    EXPECT_EQ(heard.front().text, "READY=1");
    EXPECT_EQ(heard.back().text, "STOPPING=1");
    EXPECT_EQ(heard[1].text, "WATCHDOG=1");
    EXPECT_EQ(heard[2].text, "STATUS=waiting for " + path + " to grow");
    std::optional<std::uint64_t> lastStatus;
    std::optional<std::uint64_t> lastAlive;
    std::string streaming;  // the last streaming status: an unchanged status is not said again
    for (const auto& message : heard) {
        if (message.text.starts_with("STATUS=")) {
            EXPECT_TRUE(!lastStatus || message.atMs >= *lastStatus + 1000) << message.atMs;
            lastStatus = message.atMs;
        }
        if (message.text == "WATCHDOG=1") {
            EXPECT_TRUE(!lastAlive ||
                        (message.atMs >= *lastAlive + 2000 && message.atMs <= *lastAlive + 2040))
                << message.atMs;
            lastAlive = message.atMs;
        }
        if (message.text.starts_with("STATUS=streaming")) {
            streaming = message.text;
        }
    }
    EXPECT_EQ(streaming, "STATUS=streaming " + path +
                             ": device 160.0 kB/s, encoder 160.0 kB/s, backlog 0.20 s");
    EXPECT_GE(lastAlive.value_or(0), 8000U);
}

// A path with a new line in it says no more than its status.
TEST(ServiceMonitorTest, StatusIsOneLineWhateverThePathHolds) {
    std::uint64_t clockMs = 0;
    RecordingNotifier notifier(clockMs);
    ServiceMonitor service(
        notifier, [&clockMs] { return clockMs; }, 0);
    service.status("waiting for a\nREADY=1\n to grow");
    ASSERT_EQ(notifier.heard.size(), 1U);
    EXPECT_EQ(notifier.heard[0].text, "STATUS=waiting for a READY=1  to grow");
}

#ifndef _WIN32
// Standard output a pipe that nobody reads (a paused terminal, a stalled ssh session): the device
// gets every pass at its own pace, the watchdog hears its beat to the end, and the lines the
// console could not take are counted and told once it takes text again.
TEST_F(StreamRunnerTest, ConsoleThatStopsReadingHoldsUpNeitherDeviceNorWatchdog) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    (void)::fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
    (void)::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    const std::string path = dir.file("recording.iq");
    constexpr std::int64_t kPasses = 2500;  // 2500 progress lines: far past the console's bound
    writeFile(path, {});
    resizeFile(path, kPasses * 32000);
    driver.keepBytes = false;
    driver.afterWrite = [&](std::size_t) { clockMs += 16; };  // 2 MB/s
    RecordingNotifier notifier(clockMs);
    ServiceMonitor service(
        notifier, [this] { return clockMs; }, 4000);
    std::uint64_t reported = 0;
    std::uint64_t lost = 0;
    std::string shown;
    {
        ConsoleOutput output(pipeEnds[1], [](const std::string& why) { FAIL() << why; });
        output.onLinesLost([&](std::uint64_t lines) { reported += lines; });
        std::ostream stream(&output);
        Console pipeConsole(stream);
        StopQuery stopping = service.watch(StopQuery([this] { return stopAsked; }));
        SleepFunction sleep = service.watch(SleepFunction([this](std::uint32_t ms) {
            sleeps.push_back(ms);
            clockMs += ms;
        }));
        DeviceLink link(driver.table(), pipeConsole, diagnostics, stopping);
        StreamRunner runner(link, {pipeConsole, diagnostics, sleep, stopping,
                                   [this] { return clockMs; }, &service});

        EXPECT_EQ(runner.run(path), 0);

        lost = output.linesLost();
        EXPECT_EQ(reported, 0U);  // not while nobody reads
        char chunk[4096];
        for (int round = 0; round < 40; ++round) {
            for (ssize_t got; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
                shown.append(chunk, static_cast<std::size_t>(got));
            }
            output.pump();
        }
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    // Every pass, and one more for the length a whole number of buffers.
    EXPECT_EQ(driver.byteCount, static_cast<std::uint64_t>(kPasses + 1) * 32000);
    std::optional<std::uint64_t> lastAlive;
    for (const auto& message : notifier.heard) {
        if (message.text == "WATCHDOG=1") {
            EXPECT_TRUE(!lastAlive || message.atMs <= *lastAlive + 2080) << message.atMs;
            lastAlive = message.atMs;
        }
    }
    EXPECT_GE(lastAlive.value_or(0) + 2080, clockMs);
    EXPECT_GT(clockMs, 40000U);
    // What the console got starts as always, ends with the run's last line, and lost only
    // progress lines, each told.
    EXPECT_TRUE(shown.starts_with(preamble(path) + kProbeLine)) << shown.substr(0, 300);
    EXPECT_TRUE(shown.ends_with("File sent.\n")) << shown.substr(shown.size() - 100);
    EXPECT_GT(lost, 1000U);
    EXPECT_EQ(reported, lost);
    EXPECT_EQ(errorOutput(), "");  // the run's own report goes to its own standard error
}
#endif

}  // namespace
}  // namespace iqfeeder
