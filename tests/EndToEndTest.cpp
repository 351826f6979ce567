// The real program as a child process, with the stand-in for the maker's library found through
// LD_LIBRARY_PATH: proves the run-time loader and the call ABI on this platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/PtyChild.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::readFile;
using testing::runChild;
using testing::TempDir;
using testing::writeFile;

const std::string kProgram = IQFEEDER_PROGRAM;
const std::string kFakeLibraryDir = FAKE_FTD2XX_DIR;
const std::string kIncompleteLibraryDir = FAKE_FTD2XX_INCOMPLETE_DIR;

std::string recordedRun(const std::string& path, const std::string& perPass) {
    return "Input file is " + path + "\nSending IQ data to FTDI USB device.....\n\n" +
           "Checking if it's a recorded file or live stream.....\n" +
           "Using pre-recorded file, Sent 0 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 32 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 64 of 70KB\r" + perPass +
           "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n";
}

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = dir_.file("recording 70k.iq");
        writeFile(input_, patternBytes(70000));
    }
    std::map<std::string, std::string> environment(const std::string& libraryDir) const {
        return {{"LD_LIBRARY_PATH", libraryDir},
                {"FAKE_FTD2XX_CAPTURE", capture_},
                {"FAKE_FTD2XX_LOG", log_},
                {"FAKE_FTD2XX_DEVICES", "3"}};
    }

    std::string calls() const {
        const auto bytes = readFile(log_);
        return {bytes.begin(), bytes.end()};
    }

    TempDir dir_;
    std::string input_;
    std::string capture_ = dir_.file("device.bin");
    std::string log_ = dir_.file("calls.log");
};

// A plain `iqfeeder FILE`, whole: the lines of common/ConsoleLines.h as they must stay, spelled
// out here so that a change to any of them fails, with the device's bytes and driver calls.
TEST_F(EndToEndTest, RecordingReachesTheDeviceThroughTheLoadedLibrary) {
    const auto result = runChild({kProgram, input_}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "\nDevices connected:\n"
              "0: Fake Transmitter 0\n"
              "1: Fake Transmitter 1\n"
              "\n"
              "Input file is " +
                  input_ +
                  "\n"
                  "Sending IQ data to FTDI USB device.....\n"
                  "\n"
                  "Checking if it's a recorded file or live stream.....\n"
                  "Using pre-recorded file, Sent 0 of 70KB\r"
                  "Using pre-recorded file, Sent 32 of 70KB\r"
                  "Using pre-recorded file, Sent 64 of 70KB\r"
                  "Using pre-recorded file, Sent 96 of 70KB\r"
                  "File sent.\n");
    auto expected = patternBytes(70000);
    expected.resize(96000, 0);
    EXPECT_EQ(readFile(capture_), expected);
    EXPECT_EQ(calls(), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
}

// These two name the maker's library as the driver: without it the program would fall back to
// libftdi1, which would reach a real transmitter plugged into the machine running the tests.
TEST_F(EndToEndTest, LibraryLackingACallCountsAsAbsent) {
    const auto result =
        runChild({kProgram, "--driver=maker", input_}, environment(kIncompleteLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "iqfeeder: libftd2xx.so lacks FT_Close\n");
    EXPECT_EQ(result.out, kNoDeviceLines + recordedRun(input_, "FT_W32_WriteFile Failed\n"));
    EXPECT_TRUE(readFile(log_).empty());
}

TEST_F(EndToEndTest, WithoutAnyLibraryTheRunStillSendsToTheEnd) {
    const auto result =
        runChild({kProgram, "--driver=maker", input_}, {{"LD_LIBRARY_PATH", dir_.file("none")}});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");  // not installed is no fault
    EXPECT_EQ(result.out, kNoDeviceLines + recordedRun(input_, "FT_W32_WriteFile Failed\n"));
}

TEST_F(EndToEndTest, NoArgumentPrintsUsageAndTouchesNoDevice) {
    const auto result = runChild({kProgram}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: iqfeeder FILE\n");
    EXPECT_TRUE(readFile(log_).empty());
}

TEST_F(EndToEndTest, MissingInputExitsWithStatusOneAfterClosingTheDevice) {
    const std::string missing = dir_.file("missing.iq");
    const auto result = runChild({kProgram, missing}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.out.ends_with("Error opening " + missing + ", Check file exists!\n"));
    EXPECT_TRUE(calls().ends_with("FT_Open 0\nFT_Close\n"));
}

// An encoder writing into a pipe or FIFO: a child process that opens its end, writes the
// pattern in odd-sized chunks with pauses between them, and goes.
class StreamWriter {
  public:
    StreamWriter(const std::function<int()>& openEnd, std::size_t total,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(30)) {
        pid_ = ::fork();
        if (pid_ != 0) {
            return;
        }
        const int fd = openEnd();
        const auto bytes = patternBytes(total);
        const std::size_t chunks[] = {1, 6999, 33001, 12345, 20000, 777};
        for (std::size_t at = 0, i = 0; at < total; ++i) {
            const std::size_t size = std::min(chunks[i % std::size(chunks)], total - at);
            if (::write(fd, bytes.data() + at, size) != static_cast<ssize_t>(size)) {
                ::_exit(1);
            }
            at += size;
            std::this_thread::sleep_for(pause);
        }
        ::_exit(0);
    }
    ~StreamWriter() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

  private:
    pid_t pid_ = -1;
};

const std::string kTwoListed =
    "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n";

std::string streamStart(const std::string& path) {
    return kTwoListed + "Input file is " + path + "\nSending IQ data to FTDI USB device.....\n\n";
}

std::string streamProgress(std::initializer_list<int> kilobytes) {
    std::string lines;
    for (const int kb : kilobytes) {
        lines += "Using input stream, Read " + std::to_string(kb) + "KB\r";
    }
    return lines;
}

TEST_F(EndToEndTest, StandardInputFromAPipeGoesOutInWholeBuffersAndAPaddedTail) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    testing::ChildResult result;
    {
        const StreamWriter writer([&] { return pipeEnds[1]; }, 150000);
        ::close(pipeEnds[1]);
        testing::ChildOptions options;
        options.stdinFd = pipeEnds[0];
        result = runChild({kProgram, "-"}, environment(kFakeLibraryDir), options);
        ::close(pipeEnds[0]);
    }
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, streamStart("-") + streamProgress({32, 64, 96, 128, 150}) +
                              "Input stream ended after 150000 bytes.\n");
    // However the writer cut it up, every buffer but the last went out full.
    auto expected = patternBytes(150000);
    expected.resize(160000, 0);
    EXPECT_EQ(readFile(capture_), expected);
    EXPECT_EQ(calls(), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
}

TEST_F(EndToEndTest, FifoIsReadOnceItsWriterComes) {
    const std::string fifo = dir_.file("encoder.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::ChildResult result;
    {
        const StreamWriter writer([&] { return ::open(fifo.c_str(), O_WRONLY); }, 70000);
        result = runChild({kProgram, fifo}, environment(kFakeLibraryDir));
    }
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, streamStart(fifo) + "Waiting for a writer on " + fifo + ".....\n" +
                              streamProgress({32, 64, 70}) +
                              "Input stream ended after 70000 bytes.\n");
    auto expected = patternBytes(70000);
    expected.resize(96000, 0);
    EXPECT_EQ(readFile(capture_), expected);
}

// A writer that trickles, a chunk every 1.5 s: the rates come every second while the reader
// waits for a whole buffer, not only when one has gone out.
TEST_F(EndToEndTest, StatisticsKeepComingWhileAFifoWaitsForItsWriter) {
    const std::string fifo = dir_.file("encoder.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::ChildResult result;
    {
        const StreamWriter writer([&] { return ::open(fifo.c_str(), O_WRONLY); }, 70000,
                                  std::chrono::milliseconds(1500));
        result = runChild({kProgram, "--stats", fifo}, environment(kFakeLibraryDir));
    }
    EXPECT_EQ(result.exitStatus, 0);
    // Six seconds of writing; the three buffers sent would give three lines at most.
    EXPECT_GE(testing::countOf(result.err, "iqfeeder: device "), 4U) << result.err;
}

// An empty stream sends nothing; one that can't be read ends the run with status 1.
TEST_F(EndToEndTest, EmptyOrUnreadableStandardInput) {
    struct Case {
        const char* path;
        int flags;
        int exitStatus;
        std::string out;
        std::string err;
    };
    for (const Case& c : {Case{"/dev/null", O_RDONLY, 0, "Input stream ended after 0 bytes.\n", ""},
                          Case{"/", O_RDONLY | O_DIRECTORY, 1, "Error reading -!\n",
                               "iqfeeder: -: Is a directory\n"}}) {
        const int in = ::open(c.path, c.flags);
        ASSERT_GE(in, 0) << c.path;
        testing::ChildOptions options;
        options.stdinFd = in;
        ::unlink(capture_.c_str());
        ::unlink(log_.c_str());
        const auto result = runChild({kProgram, "-"}, environment(kFakeLibraryDir), options);
        ::close(in);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.path;
        EXPECT_EQ(result.out, streamStart("-") + c.out) << c.path;
        EXPECT_EQ(result.err, c.err) << c.path;
        EXPECT_TRUE(readFile(capture_).empty()) << c.path;
        EXPECT_EQ(calls(), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
    }
}

std::string repeatLine(int sentKb, int totalKb, int repetition, int times) {
    return "Using pre-recorded file, Sent " + std::to_string(sentKb) + " of " +
           std::to_string(totalKb) + "KB, repetition " + std::to_string(repetition) + " of " +
           std::to_string(times) + "\r";
}

TEST_F(EndToEndTest, RecordingRepeatedGoesOutEndToEndWithOnlyTheLastBufferPadded) {
    const auto result = runChild({kProgram, "--repeat=3", input_}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, kTwoListed + "Input file is " + input_ +
                              "\nSending IQ data to FTDI USB device.....\n\n" +
                              "Checking if it's a recorded file or live stream.....\n" +
                              repeatLine(0, 70, 1, 3) + repeatLine(32, 70, 1, 3) +
                              repeatLine(64, 70, 1, 3) + repeatLine(26, 70, 2, 3) +
                              repeatLine(58, 70, 2, 3) + repeatLine(20, 70, 3, 3) +
                              repeatLine(52, 70, 3, 3) + repeatLine(70, 70, 3, 3) + "File sent.\n");
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 3; ++i) {
        const auto file = patternBytes(70000);
        expected.insert(expected.end(), file.begin(), file.end());
    }
    expected.resize(224000, 0);
    EXPECT_EQ(readFile(capture_), expected);
}

TEST_F(EndToEndTest, FileFarShorterThanABufferIsRepeatedWithoutGaps) {
    writeFile(input_, patternBytes(1000));
    const auto result = runChild({kProgram, "-r", "100", input_}, environment(kFakeLibraryDir));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(result.out.ends_with(repeatLine(0, 1, 1, 100) + repeatLine(0, 1, 33, 100) +
                                     repeatLine(0, 1, 65, 100) + repeatLine(0, 1, 97, 100) +
                                     repeatLine(1, 1, 100, 100) + "File sent.\n"))
        << result.out;
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 100; ++i) {
        const auto file = patternBytes(1000);
        expected.insert(expected.end(), file.begin(), file.end());
    }
    expected.resize(128000, 0);
    EXPECT_EQ(readFile(capture_), expected);
}

// Looped until the operator's Ctrl-C on its terminal, once the fourth repetition is on its way.
TEST_F(EndToEndTest, RepeatingUntilStoppedEndsCleanlyOnCtrlC) {
    auto environment = this->environment(kFakeLibraryDir);
    environment["FAKE_FTD2XX_BYTES_PER_SECOND"] = "320000";
    const std::string errors = dir_.file("stderr.txt");
    testing::PtyChild program({kProgram, "--repeat=0", input_}, environment, errors);
    const bool sawIt = program.readUntil(
        [](const std::string& out) { return out.find("KB, repetition 4\r") != std::string::npos; },
        std::chrono::seconds(60));
    program.interrupt();
    const int waitStatus = program.waitForEnd(std::chrono::seconds(10));
    ASSERT_TRUE(sawIt) << program.output();

    EXPECT_TRUE(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGINT) << waitStatus;
    EXPECT_EQ(program.output().find("File sent."), std::string::npos);
    const auto sent = readFile(capture_);
    EXPECT_GT(sent.size(), 3 * 70000U);
    EXPECT_EQ(sent.size() % 6400, 0U);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i], testing::patternByteAt(i % 70000)) << i;
    }
    const auto summary = readFile(errors);
    EXPECT_TRUE(std::string(summary.begin(), summary.end())
                    .starts_with("iqfeeder: " + std::to_string(sent.size()) + " bytes sent"));
    EXPECT_EQ(calls(), "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n");
}

}  // namespace
}  // namespace iqfeeder
