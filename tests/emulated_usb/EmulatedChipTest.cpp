// The real program, its libftdi1 driver, libftdi1 and libusb, against FTDI chips emulated
// behind umockdev: what the operator sees and which bytes reach the chip's bulk OUT endpoint.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/emulated_usb/EmulatedUsbBus.h"
#include "tests/emulated_usb/FileWatch.h"
#include "tests/emulated_usb/UmockdevPreload.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/PtyChild.h"
#include "tests/support/Segment.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::AppendWhenFirstClosed;
using testing::ChildResult;
using testing::EmulatedUsbBus;
using testing::EmulatedUsbDevice;
using testing::kNoDeviceLines;
using testing::patternBytes;
using testing::runChild;
using testing::TempDir;
using testing::underUmockdev;
using testing::UsbDeviceModel;
using testing::writeFile;

const std::string kProgram = IQFEEDER_PROGRAM;
constexpr std::size_t kSlice = 6400;
// Slow enough that the host always has time to queue the next slice while the chip takes the
// one before (50 ms for 6400 bytes), even on a loaded machine.
constexpr std::size_t kDrainBytesPerSecond = 128000;
// Slow enough that each transfer lasts 200 ms: the next one must be queued within that, which a
// machine busy with a whole CI run beside the test still does; at 50 ms it sometimes did not.
constexpr std::size_t kPatientDrainBytesPerSecond = 32000;

// Runs the program with umockdev's preload library, which then finds the emulated bus through
// UMOCKDEV_DIR, inherited from this process.
ChildResult runProgram(const std::string& input) {
    return runChild(underUmockdev({kProgram, input}), {});
}

std::string listing(const std::string& product) {
    return "\nDevices connected:\n0: " + product + "\n\n";
}

std::string start(const std::string& path) {
    return "Input file is " + path + "\nSending IQ data to FTDI USB device.....\n\n" +
           "Checking if it's a recorded file or live stream.....\n";
}

// A recorded run over 70000 bytes, with what each of its three sending passes prints.
std::string recorded70k(const std::string& path, const std::vector<std::string>& perPass) {
    return start(path) + "Using pre-recorded file, Sent 0 of 70KB\r" + perPass[0] +
           "Using pre-recorded file, Sent 32 of 70KB\r" + perPass[1] +
           "Using pre-recorded file, Sent 64 of 70KB\r" + perPass[2] +
           "Using pre-recorded file, Sent 96 of 70KB\rFile sent.\n";
}

// A recorded run over a file of under 1000 bytes: one pass sends, the next ends the run.
std::string recordedTiny(const std::string& path, const std::string& perPass) {
    return start(path) + "Using pre-recorded file, Sent 0 of 0KB\r" + perPass +
           "Using pre-recorded file, Sent 32 of 0KB\rFile sent.\n";
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> zeros(std::size_t count) {
    return std::vector<std::uint8_t>(count, 0);
}

std::vector<std::size_t> transferSizes(const EmulatedUsbDevice& chip) {
    std::vector<std::size_t> sizes;
    for (const auto& transfer : chip.bulkTransfers()) {
        sizes.push_back(transfer.bytes);
    }
    return sizes;
}

// The bulk OUT transfers after whose completion the chip found nothing queued, so that it
// idled until the host's next one. A host that keeps the bus busy leaves only the last.
std::vector<std::size_t> starvedTransfers(const EmulatedUsbDevice& chip) {
    const auto transfers = chip.bulkTransfers();
    std::vector<std::size_t> starved;
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        if (!transfers[i].nextQueued) {
            starved.push_back(i);
        }
    }
    return starved;
}

class EmulatedChipTest : public ::testing::Test {
  protected:
    // What every run against an FTDI chip must leave behind, whatever happened in between.
    static void expectOpenedOnceAndClosed(const EmulatedUsbDevice& chip) {
        EXPECT_EQ(chip.interfaceClaims(), 1);
        EXPECT_EQ(chip.interfaceReleases(), 1);
        // No device settings of our own: only the reset and baud rate libftdi1's open sends.
        for (const std::uint8_t request : chip.vendorRequests()) {
            EXPECT_TRUE(request == 0 || request == 3) << "vendor request " << int{request};
        }
        EXPECT_EQ(chip.unknownRequests(), std::vector<std::string>{});
    }

    TempDir dir_;
    std::string input_ = dir_.file("input.iq");
    EmulatedUsbBus bus_;
};

class RecordingTest : public EmulatedChipTest,
                      public ::testing::WithParamInterface<UsbDeviceModel> {};

TEST_P(RecordingTest, ListedByProductAndGetsTheFileOneTransferPerSlice) {
    writeFile(input_, patternBytes(70000));
    EmulatedUsbDevice& chip = bus_.plugIn(GetParam());
    chip.drainAt(kPatientDrainBytesPerSecond);

    const ChildResult result = runProgram(input_);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, listing(GetParam().product) + recorded70k(input_, {"", "", ""}));
    // Three passes of 32000 bytes; the last read got 6000 and the rest went out as zeros.
    EXPECT_EQ(chip.receivedBytes(), concat(patternBytes(70000), zeros(26000)));
    EXPECT_EQ(transferSizes(chip), std::vector<std::size_t>(15, kSlice));
    EXPECT_EQ(starvedTransfers(chip), std::vector<std::size_t>{14});
    expectOpenedOnceAndClosed(chip);
}

INSTANTIATE_TEST_SUITE_P(Chips, RecordingTest,
                         ::testing::Values(testing::ft232r(), testing::ft232h()),
                         [](const auto& info) { return info.param.name; });

TEST_F(EmulatedChipTest, LiveFileIsSentFromBehindItsEndUntilTheJumpPastTheCap) {
    writeFile(input_, patternBytes(100000));
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232h());
    chip.drainAt(kDrainBytesPerSecond);
    // The producer writes 40000 bytes during the probe, then, once the first buffer is on the
    // chip, the file grows so far that the next pass jumps past the position cap.
    const AppendWhenFirstClosed producer(input_, 40000);
    chip.whenBytesReceived(32000, [this] { std::filesystem::resize_file(input_, 500032000); });

    const ChildResult result = runProgram(input_);

    EXPECT_TRUE(producer.appended());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, testing::kCapLine);  // the jump past the cap ended the run
    EXPECT_EQ(result.out, listing("Single RS232-HS") + start(input_) +
                              "Status: Size of pipe file is: 140 KBytes, Delay: 250ms\r"
                              "\nDelay too high, re-started buffer..\n"
                              "Status: Size of pipe file is: 500032 KBytes, Delay: 250ms\r");
    // The newest 32000 bytes at the probe, then the (sparse) last buffer below the cap.
    EXPECT_EQ(chip.receivedBytes(), concat(patternBytes(32000, 108000), zeros(32000)));
    EXPECT_EQ(starvedTransfers(chip), std::vector<std::size_t>{9});
    expectOpenedOnceAndClosed(chip);
}

// A failed bulk transfer is charged to the buffer it belongs to: the rest of that buffer is
// dropped, with one line, and every other buffer goes out whole. The chip fails it at once, so
// the write after it already knows, reports it and queues nothing.
struct BulkErrorCase {
    const char* name;
    std::size_t failing;               // the bulk transfer that fails
    std::vector<std::string> perPass;  // what each pass prints after its progress line
    std::vector<std::uint8_t> received;
    // Or this, when the failure was known before the pass that made it ended.
    std::vector<std::string> perPassIfToldAtOnce = {};
};

class BulkErrorTest : public EmulatedChipTest,
                      public ::testing::WithParamInterface<BulkErrorCase> {};

TEST_P(BulkErrorTest, DropsTheRestOfThatBufferOnlyAndTheRunGoesOn) {
    writeFile(input_, patternBytes(70000));
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.failBulkTransfer(GetParam().failing);

    const ChildResult result = runProgram(input_);

    EXPECT_EQ(result.exitStatus, 0);
    const std::string expected =
        listing("FT232R USB UART") + recorded70k(input_, GetParam().perPass);
    if (GetParam().perPassIfToldAtOnce.empty() || result.out == expected) {
        EXPECT_EQ(result.out, expected);
    } else {
        EXPECT_EQ(result.out,
                  listing("FT232R USB UART") + recorded70k(input_, GetParam().perPassIfToldAtOnce));
    }
    EXPECT_EQ(chip.receivedBytes(), GetParam().received);
    expectOpenedOnceAndClosed(chip);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, BulkErrorTest,
    ::testing::Values(
        // The second slice of the second buffer: the rest of that buffer is dropped.
        BulkErrorCase{"SecondSliceOfTheSecondBuffer",
                      6,
                      {"", "FT_W32_WriteFile Failed\n", ""},
                      concat(concat(patternBytes(38400), patternBytes(6000, 64000)), zeros(26000))},
        // The last slice of the first buffer, told once libusb gives it back (in the first
        // pass or the second): charged to the first buffer, and the second still goes whole.
        BulkErrorCase{"LastSliceOfTheFirstBuffer",
                      4,
                      {"", "FT_W32_WriteFile Failed\n", ""},
                      concat(concat(patternBytes(25600), patternBytes(38000, 32000)), zeros(26000)),
                      {"FT_W32_WriteFile Failed\n", "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatedChipTest, ChipThatNeverDrainsTimesTheWriteOutAndTheRunGoesOn) {
    writeFile(input_, patternBytes(500));
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.stopDraining();

    const ChildResult result = runProgram(input_);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out,
              listing("FT232R USB UART") + recordedTiny(input_, "FT_W32_WriteFile Failed\n"));
    // Two slices were queued; the first timed out, and both were taken back. Nothing else was
    // tried: the failure dropped the rest of the buffer.
    EXPECT_EQ(transferSizes(chip), std::vector<std::size_t>(2, kSlice));
    EXPECT_EQ(chip.discardedTransfers(), 2U);
    EXPECT_TRUE(chip.receivedBytes().empty());
    expectOpenedOnceAndClosed(chip);
}

TEST_F(EmulatedChipTest, SerialNumberPicksTheSecondChipAndOnlyItGetsTheFile) {
    writeFile(input_, patternBytes(70000));
    EmulatedUsbDevice& other = bus_.plugIn(testing::ft232r(), 2);
    EmulatedUsbDevice& chosen = bus_.plugIn(testing::ft232h(), 3);

    const ChildResult result =
        runChild(underUmockdev({kProgram, "--serial=" + chosen.model().serial, input_}), {});

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.ends_with(recorded70k(input_, {"", "", ""}))) << result.out;
    EXPECT_EQ(chosen.receivedBytes(), concat(patternBytes(70000), zeros(26000)));
    expectOpenedOnceAndClosed(chosen);
    EXPECT_TRUE(other.receivedBytes().empty());
    EXPECT_EQ(other.interfaceClaims(), 0);
}

// With --reconnect: the chip unplugged once a buffer and a slice have reached it, and plugged
// back in a second later at a new address. The program says so, waits, opens it again, and the
// endpoint gets the recording to its end with nothing of it skipped.
TEST_F(EmulatedChipTest, ChipUnpluggedAndBackGetsTheRestOfTheRecordingWithNothingSkipped) {
    writeFile(input_, patternBytes(70000));
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.drainAt(kDrainBytesPerSecond);
    std::promise<void> reached;
    chip.whenBytesReceived(38400, [&reached] { reached.set_value(); });
    // The bus is changed from a thread of the test's, not from the chip's own handler.
    std::thread unplugger([&] {
        if (reached.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            return;
        }
        bus_.unplug(chip);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        bus_.plugBackIn(chip, 3);
    });

    const ChildResult result = runChild(underUmockdev({kProgram, "--reconnect", input_}), {});
    unplugger.join();

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    const std::string& out = result.out;
    EXPECT_TRUE(out.starts_with(listing("FT232R USB UART") + start(input_))) << out;
    EXPECT_EQ(testing::countOf(out, "FTDI device lost, looking for it.....\n"), 1U) << out;
    EXPECT_EQ(testing::countOf(out, "FTDI device back, streaming on.\n"), 1U) << out;
    EXPECT_TRUE(out.ends_with("File sent.\n")) << out;
    const auto received = chip.receivedBytes();
    // What the chip had not confirmed when it went (two slices at most) went again.
    EXPECT_TRUE(
        testing::sentWithOneRewind(received, concat(patternBytes(70000), zeros(26000)), kSlice, 2))
        << received.size();
    EXPECT_EQ(chip.interfaceClaims(), 2);
    EXPECT_EQ(chip.interfaceReleases(), 1);  // the one on the gone device could not be made
}

TEST_F(EmulatedChipTest, BusWithoutAnFtdiChipGivesTheListingFailure) {
    writeFile(input_, patternBytes(500));
    bus_.plugInWithoutHandler(testing::usbMouse());

    const ChildResult result = runProgram(input_);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, kNoDeviceLines + recordedTiny(input_, "FT_W32_WriteFile Failed\n"));
}

}  // namespace
}  // namespace iqfeeder
