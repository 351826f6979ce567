// The libftdi1 driver's four calls in this process, through the real libftdi1 and libusb, with
// emulated chips on the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "device/LibFtdiDriver.h"
#include "tests/emulated_usb/EmulatedUsbBus.h"
#include "tests/emulated_usb/UmockdevPreload.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using ::testing::AnyOf;
using testing::EmulatedUsbBus;
using testing::EmulatedUsbDevice;
using testing::patternBytes;
using ::testing::UnorderedElementsAre;

class LibFtdiDriverTest : public ::testing::Test {
  protected:
    bool list(std::vector<ListedDevice>& devices, bool withSerials = false) {
        devices.assign(1, ListedDevice{"untouched", "untouched"});
        return table_.list(table_.context, withSerials, devices);
    }
    static std::vector<std::string> descriptions(const std::vector<ListedDevice>& devices) {
        std::vector<std::string> texts;
        for (const ListedDevice& device : devices) {
            texts.push_back(device.description);
        }
        return texts;
    }
    // Slices are named by their index in `bytes`, from 1.
    void submit(const DriverTable& table, DeviceHandle handle,
                const std::vector<std::uint8_t>& bytes, std::size_t slice,
                std::uint32_t size = 6400) {
        table.submit(table.context, handle, {bytes.data() + slice * size, size, slice + 1});
    }
    void submit(DeviceHandle handle, const std::vector<std::uint8_t>& bytes, std::size_t slice,
                std::uint32_t size = 6400) {
        submit(table_, handle, bytes, slice, size);
    }
    void takeStatus(const DriverTable& table, DeviceHandle handle) {
        table.status(table.context, handle, reports_);
    }
    bool close(const DriverTable& table, DeviceHandle handle) {
        return table.close(table.context, handle, reports_);
    }
    bool close(DeviceHandle handle) { return close(table_, handle); }
    // The reports so far, as "id fate taken".
    std::vector<std::string> reported() const {
        const char* fates[] = {"Taken", "Short", "Failed", "Gone", "TimedOut", "LeftBehind"};
        std::vector<std::string> texts;
        for (const SliceReport& report : reports_) {
            texts.push_back(std::to_string(report.id) + " " + fates[static_cast<int>(report.fate)] +
                            " " + std::to_string(report.taken));
        }
        return texts;
    }

    EmulatedUsbBus bus_;
    LibFtdiDriver driver_;
    DriverTable table_ = driver_.table();
    std::vector<SliceReport> reports_;
};

using Reports = std::vector<std::string>;

TEST_F(LibFtdiDriverTest, ListsEveryFtdiChipByProductAndSkipsOtherDevices) {
    bus_.plugIn(testing::ft232r(), 2);
    bus_.plugInWithoutHandler(testing::usbMouse(), 3);
    bus_.plugIn(testing::ft232h(), 4);

    std::vector<ListedDevice> devices;
    EXPECT_TRUE(list(devices));
    // In libusb's order, which need not be the bus order; no serial numbers unless asked for.
    EXPECT_THAT(descriptions(devices), UnorderedElementsAre("FT232R USB UART", "Single RS232-HS"));
    EXPECT_EQ(devices[0].serial, "");
    EXPECT_EQ(devices[1].serial, "");
}

TEST_F(LibFtdiDriverTest, LongProductStringIsCutToItsBuffer) {
    testing::UsbDeviceModel chip = testing::ft232r();
    chip.product = std::string(100, 'P');
    bus_.plugIn(chip);

    std::vector<ListedDevice> devices;
    EXPECT_TRUE(list(devices));
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].description, std::string(63, 'P'));
}

TEST_F(LibFtdiDriverTest, ChipWhoseStringsCanNotBeReadIsListedWithoutAName) {
    bus_.plugIn(testing::ft232r()).refuseStrings();

    std::vector<ListedDevice> devices;
    EXPECT_TRUE(list(devices, true));
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].description, "");
    EXPECT_EQ(devices[0].serial, "");
}

TEST_F(LibFtdiDriverTest, BusWithoutFtdiChipsFindsNoDevice) {
    bus_.plugInWithoutHandler(testing::usbMouse());

    std::vector<ListedDevice> devices;
    EXPECT_FALSE(list(devices));
    EXPECT_TRUE(devices.empty());
    DeviceHandle handle = nullptr;
    EXPECT_FALSE(table_.open(table_.context, 0, {}, &handle));
    EXPECT_EQ(handle, nullptr);
}

TEST_F(LibFtdiDriverTest, ListsSerialAndProductOfEachChipTogether) {
    bus_.plugIn(testing::ft232r(), 2);
    bus_.plugIn(testing::ft232h(), 3);
    std::vector<ListedDevice> devices;
    EXPECT_TRUE(list(devices, true));
    ASSERT_EQ(devices.size(), 2U);
    // In libusb's order, which need not be the bus order, but each serial with its product.
    const bool busOrder = devices[0].serial == "A50285BI";
    EXPECT_EQ(devices[busOrder ? 0 : 1].description, "FT232R USB UART");
    EXPECT_EQ(devices[busOrder ? 1 : 0].serial, "FT6Z1XQ0");
    EXPECT_EQ(devices[busOrder ? 1 : 0].description, "Single RS232-HS");
}

TEST_F(LibFtdiDriverTest, OpensWritesAndClosesTheFirstChip) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232h());

    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(chip.interfaceClaims(), 1);

    auto slice = patternBytes(12800);
    submit(handle, slice, 0, 12800);
    EXPECT_TRUE(close(handle));
    EXPECT_EQ(reported(), Reports{"1 Taken 12800"});
    EXPECT_EQ(chip.receivedBytes(), slice);
    EXPECT_EQ(chip.bulkTransfers().size(), 1U);  // the largest slice still goes out whole
    EXPECT_EQ(chip.interfaceReleases(), 1);
}

TEST_F(LibFtdiDriverTest, OpeningAnIndexPastTheLastChipFails) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    DeviceHandle handle = nullptr;
    EXPECT_FALSE(table_.open(table_.context, 1, {}, &handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(chip.interfaceClaims(), 0);
}

// A failed transfer, in the kernel's error code: the chip can't be reached as it was, whatever
// the error.
class FailedTransferTest : public LibFtdiDriverTest,
                           public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(FailedTransferTest, IsReportedForItsOwnSliceOnly) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.failBulkTransfer(1, GetParam().second);
    chip.failBulkTransfer(3, GetParam().second);
    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    auto bytes = patternBytes(5 * 6400);
    for (std::size_t slice = 0; slice < 5; ++slice) {
        submit(handle, bytes, slice);
        takeStatus(table_, handle);
    }
    EXPECT_TRUE(close(handle));
    EXPECT_EQ(reported(),
              (Reports{"1 Taken 6400", "2 Gone 0", "3 Taken 6400", "4 Gone 0", "5 Taken 6400"}));
    EXPECT_EQ(chip.bulkTransfers().size(), 5U);
    auto expected = patternBytes(6400);
    for (const std::size_t slice : {2U, 4U}) {
        const auto more = patternBytes(6400, slice * 6400);
        expected.insert(expected.end(), more.begin(), more.end());
    }
    EXPECT_EQ(chip.receivedBytes(), expected);
    EXPECT_EQ(chip.interfaceReleases(), 1);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedTransferTest,
                         ::testing::Values(std::pair{"Stall", EPIPE}, std::pair{"BusError", EPROTO},
                                           std::pair{"DeviceGone", ENODEV},
                                           std::pair{"DeviceShutDown", ESHUTDOWN}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(LibFtdiDriverTest, ShortTransferIsReportedWithItsCount) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.shortenBulkTransfer(0, 1000);
    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    auto bytes = patternBytes(3 * 6400);
    for (std::size_t slice = 0; slice < 3; ++slice) {
        submit(handle, bytes, slice);
    }
    EXPECT_TRUE(close(handle));
    EXPECT_EQ(reported(), (Reports{"1 Short 1000", "2 Taken 6400", "3 Taken 6400"}));
    bytes.erase(bytes.begin() + 1000, bytes.begin() + 6400);
    EXPECT_EQ(chip.receivedBytes(), bytes);
}

// Unplugged while idle, or while the chip still held a slice.
class UnplugTest : public LibFtdiDriverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnplugTest, SliceAfterUnplugIsGoneAndTheChipPluggedBackOpensAnew) {
    const bool sliceInFlight = GetParam();
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r(), 2);
    if (sliceInFlight) {
        chip.stopDraining();
    }
    auto bytes = patternBytes(3 * 6400);
    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    submit(handle, bytes, 0);
    takeStatus(table_, handle);

    bus_.unplug(chip);
    std::vector<ListedDevice> devices;
    EXPECT_FALSE(list(devices));
    submit(handle, bytes, 1);
    EXPECT_TRUE(close(handle));
    // The slice the chip held never arrived.
    EXPECT_EQ(reported(), (Reports{sliceInFlight ? "1 Gone 0" : "1 Taken 6400", "2 Gone 0"}));

    reports_.clear();
    bus_.plugBackIn(chip, 5);
    EXPECT_TRUE(list(devices));
    EXPECT_EQ(devices.size(), 1U);
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    submit(handle, bytes, 2);
    EXPECT_TRUE(close(handle));
    EXPECT_EQ(reported(), Reports{"3 Taken 6400"});

    bytes.erase(bytes.begin() + (sliceInFlight ? 0 : 6400), bytes.begin() + 12800);
    EXPECT_EQ(chip.receivedBytes(), bytes);
    EXPECT_EQ(chip.interfaceClaims(), 2);
}

INSTANTIATE_TEST_SUITE_P(, UnplugTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SliceInFlight" : "Idle"; });

// The write time-out on a clock of the test's: 100 ms pass at every reading, and the chip
// takes the transfers it holds at the times the test sets.
class TimedOutTransferTest : public LibFtdiDriverTest {
  protected:
    DeviceHandle openHeldChip(const OpenSettings& settings = {}) {
        chip_.stopDraining();
        DeviceHandle handle = nullptr;
        EXPECT_TRUE(timedTable_.open(timedTable_.context, 0, settings, &handle));
        return handle;
    }

    std::chrono::milliseconds now_{0};
    std::vector<std::pair<std::chrono::milliseconds, std::size_t>> drains_;  // at, count
    EmulatedUsbDevice& chip_ = bus_.plugIn(testing::ft232h());
    std::string said_;
    LibFtdiDriver timedDriver_{[this] {
                                   now_ += std::chrono::milliseconds(100);
                                   while (!drains_.empty() && drains_.front().first <= now_) {
                                       chip_.drainHeld(drains_.front().second);
                                       drains_.erase(drains_.begin());
                                   }
                                   return std::chrono::steady_clock::time_point(now_);
                               },
                               [this](const char* line) { said_ += line; }};
    DriverTable timedTable_ = timedDriver_.table();
    std::vector<std::uint8_t> bytes_ = patternBytes(4 * 6400);
};

TEST_F(TimedOutTransferTest, ChipThatTakesNothingTimesOutAfterFiveSecondsAndAtClose) {
    DeviceHandle handle = openHeldChip();
    submit(timedTable_, handle, bytes_, 0);
    submit(timedTable_, handle, bytes_, 1);
    // The first timed out: both were taken back, and the third not sent behind them.
    submit(timedTable_, handle, bytes_, 2);
    EXPECT_GE(now_, std::chrono::milliseconds(5000));
    EXPECT_LT(now_, std::chrono::milliseconds(6000));
    EXPECT_EQ(chip_.discardedTransfers(), 2U);
    submit(timedTable_, handle, bytes_, 3);
    EXPECT_TRUE(close(timedTable_, handle));  // one more time-out
    EXPECT_EQ(reported(),
              (Reports{"1 TimedOut 0", "2 TimedOut 0", "3 TimedOut 0", "4 TimedOut 0"}));
    EXPECT_EQ(chip_.discardedTransfers(), 3U);
    EXPECT_EQ(chip_.bulkTransfers().size(), 3U);
    EXPECT_TRUE(chip_.receivedBytes().empty());
    EXPECT_EQ(chip_.interfaceReleases(), 1);
}

TEST_F(TimedOutTransferTest, UnattendedWriteTimeOutIsTheOneAskedFor) {
    DeviceHandle handle = openHeldChip(OpenSettings{1000});
    submit(timedTable_, handle, bytes_, 0);
    submit(timedTable_, handle, bytes_, 1);
    submit(timedTable_, handle, bytes_, 2);
    EXPECT_GE(now_, std::chrono::milliseconds(1000));
    EXPECT_LT(now_, std::chrono::milliseconds(2000));
    EXPECT_TRUE(close(timedTable_, handle));
}

// A host that never gives back what was taken back: the close ends within the grace, the
// slices are reported left behind, and their memory is never touched again.
TEST_F(TimedOutTransferTest, TransfersNeverGivenBackAreLeftBehindWithinTheGrace) {
    DeviceHandle handle = openHeldChip();
    chip_.ignoreDiscards();
    submit(timedTable_, handle, bytes_, 0);
    submit(timedTable_, handle, bytes_, 1);
    EXPECT_TRUE(close(timedTable_, handle));
    EXPECT_EQ(reported(), (Reports{"1 LeftBehind 0", "2 LeftBehind 0"}));
    // The write time-out, then the grace (each reading of the clock here costs 100 ms).
    EXPECT_LT(now_, std::chrono::milliseconds(7000));
    EXPECT_EQ(said_, "");
}

TEST_F(TimedOutTransferTest, TimeOutOfAQueuedTransferRunsFromWhenTheOneBeforeIsDone) {
    // Four seconds per slice: slow, but in time for each, counted from when it has the bus.
    drains_ = {{std::chrono::milliseconds(4000), 1},
               {std::chrono::milliseconds(8000), 1},
               {std::chrono::milliseconds(12000), 2}};
    DeviceHandle handle = openHeldChip();
    for (std::size_t slice = 0; slice < 4; ++slice) {
        submit(timedTable_, handle, bytes_, slice);
    }
    EXPECT_TRUE(close(timedTable_, handle));
    EXPECT_EQ(reported(),
              (Reports{"1 Taken 6400", "2 Taken 6400", "3 Taken 6400", "4 Taken 6400"}));
    EXPECT_EQ(chip_.discardedTransfers(), 0U);
    EXPECT_EQ(chip_.receivedBytes(), bytes_);
}

TEST_F(LibFtdiDriverTest, CallsWithoutAnOpenDeviceFailWithoutTouchingTheBus) {
    const std::vector<std::uint8_t> byte(1, 0);
    submit(nullptr, byte, 0, 1);
    takeStatus(table_, nullptr);
    EXPECT_EQ(reported(), Reports{"1 Failed 0"});
    EXPECT_FALSE(close(nullptr));
}

}  // namespace
}  // namespace iqfeeder

int main(int argc, char** argv) {
    iqfeeder::testing::ensureUmockdevPreload(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
