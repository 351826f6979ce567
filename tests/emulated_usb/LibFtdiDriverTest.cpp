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
    FT_STATUS list(std::vector<ListedDevice>& devices, bool withSerials = false) {
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
    FT_STATUS write(const DriverTable& table, FT_HANDLE handle, const std::uint8_t* bytes,
                    std::uint32_t size, DWORD& written) {
        WriteReport report;
        const FT_STATUS status = table.write(table.context, handle, bytes, size, report);
        written = report.taken;
        confirmed_ = report.confirmed;
        return status;
    }
    FT_STATUS write(FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                    DWORD& written) {
        return write(table_, handle, bytes, size, written);
    }
    FT_STATUS close(const DriverTable& table, FT_HANDLE handle) {
        return table.close(table.context, handle, confirmed_);
    }
    FT_STATUS close(FT_HANDLE handle) { return close(table_, handle); }

    EmulatedUsbBus bus_;
    LibFtdiDriver driver_;
    DriverTable table_ = driver_.table();
    std::uint64_t confirmed_ = 0;  // as the last write or close said
};

TEST_F(LibFtdiDriverTest, ListsEveryFtdiChipByProductAndSkipsOtherDevices) {
    bus_.plugIn(testing::ft232r(), 2);
    bus_.plugInWithoutHandler(testing::usbMouse(), 3);
    bus_.plugIn(testing::ft232h(), 4);

    std::vector<ListedDevice> devices;
    EXPECT_EQ(list(devices), FT_OK);
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
    EXPECT_EQ(list(devices), FT_OK);
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].description, std::string(kDescriptionBytes - 1, 'P'));
}

TEST_F(LibFtdiDriverTest, ChipWhoseStringsCanNotBeReadIsListedWithoutAName) {
    bus_.plugIn(testing::ft232r()).refuseStrings();

    std::vector<ListedDevice> devices;
    EXPECT_EQ(list(devices, true), FT_OK);
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0].description, "");
    EXPECT_EQ(devices[0].serial, "");
}

TEST_F(LibFtdiDriverTest, BusWithoutFtdiChipsFindsNoDevice) {
    bus_.plugInWithoutHandler(testing::usbMouse());

    std::vector<ListedDevice> devices;
    EXPECT_EQ(list(devices), FT_DEVICE_NOT_FOUND);
    EXPECT_TRUE(devices.empty());
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(table_.open(table_.context, 0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(LibFtdiDriverTest, ListsSerialAndProductOfEachChipTogether) {
    bus_.plugIn(testing::ft232r(), 2);
    bus_.plugIn(testing::ft232h(), 3);
    std::vector<ListedDevice> devices;
    EXPECT_EQ(list(devices, true), FT_OK);
    ASSERT_EQ(devices.size(), 2U);
    // In libusb's order, which need not be the bus order, but each serial with its product.
    const bool busOrder = devices[0].serial == "A50285BI";
    EXPECT_EQ(devices[busOrder ? 0 : 1].description, "FT232R USB UART");
    EXPECT_EQ(devices[busOrder ? 1 : 0].serial, "FT6Z1XQ0");
    EXPECT_EQ(devices[busOrder ? 1 : 0].description, "Single RS232-HS");
}

TEST_F(LibFtdiDriverTest, OpensWritesAndClosesTheFirstChip) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232h());

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(chip.interfaceClaims(), 1);

    auto slice = patternBytes(12800);
    DWORD written = 0;
    EXPECT_EQ(write(handle, slice.data(), 12800, written), FT_OK);
    EXPECT_EQ(written, 12800U);
    EXPECT_EQ(chip.receivedBytes(), slice);
    EXPECT_EQ(chip.bulkTransfers().size(), 1U);  // the largest slice still goes out whole

    EXPECT_EQ(close(handle), FT_OK);
    EXPECT_EQ(confirmed_, 12800U);
    EXPECT_EQ(chip.interfaceReleases(), 1);
}

TEST_F(LibFtdiDriverTest, OpeningAnIndexPastTheLastChipFails) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(table_.open(table_.context, 1, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(chip.interfaceClaims(), 0);
}

// A failed transfer, in the kernel's error code, and the status the driver reports for it.
struct TransferFailure {
    std::string name;
    int error;
    FT_STATUS status;
};

class FailedTransferTest : public LibFtdiDriverTest,
                           public ::testing::WithParamInterface<TransferFailure> {};

TEST_P(FailedTransferTest, IsReportedByTheNextWriteOrByClose) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.failBulkTransfer(1, GetParam().error);
    chip.failBulkTransfer(3, GetParam().error);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    auto bytes = patternBytes(5 * 6400);
    const auto writeSlice = [&](std::size_t slice, DWORD& written) {
        return write(handle, bytes.data() + slice * 6400, 6400, written);
    };

    DWORD written = 0;
    EXPECT_EQ(writeSlice(0, written), FT_OK);
    EXPECT_EQ(writeSlice(1, written), FT_OK);  // queued: its failure is not known yet
    EXPECT_EQ(written, 6400U);
    written = 12345;
    EXPECT_EQ(writeSlice(2, written), GetParam().status);  // reports it, and queues nothing
    EXPECT_EQ(written, 0U);
    EXPECT_EQ(confirmed_, 6400U);  // up to the slice that failed
    EXPECT_EQ(writeSlice(3, written), FT_OK);
    EXPECT_EQ(writeSlice(4, written), FT_OK);
    EXPECT_EQ(close(handle), GetParam().status);
    EXPECT_EQ(confirmed_, 3U * 6400U);  // the failed slice counted once reported; not the last

    EXPECT_EQ(chip.bulkTransfers().size(), 4U);
    auto expected = patternBytes(6400);
    const auto fourth = patternBytes(6400, 3 * 6400);
    expected.insert(expected.end(), fourth.begin(), fourth.end());
    EXPECT_EQ(chip.receivedBytes(), expected);
    EXPECT_EQ(chip.interfaceReleases(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedTransferTest,
    ::testing::Values(TransferFailure{"Stall", EPIPE, FT_IO_ERROR},
                      TransferFailure{"BusError", EPROTO, FT_IO_ERROR},
                      TransferFailure{"DeviceGone", ENODEV, FT_DEVICE_NOT_FOUND},
                      TransferFailure{"DeviceShutDown", ESHUTDOWN, FT_DEVICE_NOT_FOUND}),
    [](const auto& info) { return info.param.name; });

TEST_F(LibFtdiDriverTest, ShortTransferIsReportedByTheNextWriteWithItsCount) {
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r());
    chip.shortenBulkTransfer(0, 1000);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    auto bytes = patternBytes(3 * 6400);

    std::vector<DWORD> written(3, 0);
    for (std::size_t slice = 0; slice < 3; ++slice) {
        EXPECT_EQ(write(handle, bytes.data() + slice * 6400, 6400, written[slice]), FT_OK);
    }
    EXPECT_EQ(written, (std::vector<DWORD>{6400, 1000, 6400}));  // the second slice went out too
    EXPECT_EQ(close(handle), FT_OK);
    EXPECT_EQ(confirmed_, 3U * 6400U);  // a short transfer is done with, never sent again
    bytes.erase(bytes.begin() + 1000, bytes.begin() + 6400);
    EXPECT_EQ(chip.receivedBytes(), bytes);
}

// Unplugged while idle, or while the chip still held a slice.
class UnplugTest : public LibFtdiDriverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnplugTest, WriteAfterUnplugFindsNoDeviceAndTheChipPluggedBackOpensAnew) {
    const bool sliceInFlight = GetParam();
    EmulatedUsbDevice& chip = bus_.plugIn(testing::ft232r(), 2);
    if (sliceInFlight) {
        chip.stopDraining();
    }
    auto bytes = patternBytes(3 * 6400);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    DWORD written = 0;
    EXPECT_EQ(write(handle, bytes.data(), 6400, written), FT_OK);

    bus_.unplug(chip);
    std::vector<ListedDevice> devices;
    EXPECT_EQ(list(devices), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(write(handle, bytes.data() + 6400, 6400, written), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(written, 0U);
    // The slice the chip held never arrived: not confirmed.
    EXPECT_EQ(confirmed_, sliceInFlight ? 0U : 6400U);
    EXPECT_EQ(close(handle), FT_OK);  // the failure was reported

    bus_.plugBackIn(chip, 5);
    EXPECT_EQ(list(devices), FT_OK);
    EXPECT_EQ(devices.size(), 1U);
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    EXPECT_EQ(write(handle, bytes.data() + 12800, 6400, written), FT_OK);
    EXPECT_EQ(close(handle), FT_OK);
    EXPECT_EQ(confirmed_, 6400U);  // counted from the open

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
    FT_HANDLE openHeldChip() {
        chip_.stopDraining();
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(timedTable_.open(timedTable_.context, 0, &handle), FT_OK);
        return handle;
    }
    FT_STATUS writeSlice(FT_HANDLE handle, std::size_t slice) {
        DWORD written = 0;
        const FT_STATUS status =
            write(timedTable_, handle, bytes_.data() + slice * 6400, 6400, written);
        EXPECT_EQ(written, status == FT_OK ? 6400U : 0U);
        return status;
    }

    std::chrono::milliseconds now_{0};
    std::vector<std::pair<std::chrono::milliseconds, std::size_t>> drains_;  // at, count
    EmulatedUsbDevice& chip_ = bus_.plugIn(testing::ft232h());
    LibFtdiDriver timedDriver_{[this] {
        now_ += std::chrono::milliseconds(100);
        while (!drains_.empty() && drains_.front().first <= now_) {
            chip_.drainHeld(drains_.front().second);
            drains_.erase(drains_.begin());
        }
        return std::chrono::steady_clock::time_point(now_);
    }};
    DriverTable timedTable_ = timedDriver_.table();
    std::vector<std::uint8_t> bytes_ = patternBytes(4 * 6400);
};

TEST_F(TimedOutTransferTest, ChipThatTakesNothingFailsTheWriteAfterFiveSecondsAndClose) {
    FT_HANDLE handle = openHeldChip();
    EXPECT_EQ(writeSlice(handle, 0), FT_OK);
    EXPECT_EQ(writeSlice(handle, 1), FT_OK);
    EXPECT_EQ(writeSlice(handle, 2), FT_IO_ERROR);  // the first timed out: both were taken back
    EXPECT_EQ(confirmed_, 0U);
    EXPECT_GE(now_, std::chrono::milliseconds(5000));
    EXPECT_LT(now_, std::chrono::milliseconds(6000));
    EXPECT_EQ(chip_.discardedTransfers(), 2U);
    EXPECT_EQ(writeSlice(handle, 3), FT_OK);
    EXPECT_EQ(close(timedTable_, handle), FT_IO_ERROR);  // one more time-out
    EXPECT_EQ(chip_.discardedTransfers(), 3U);
    EXPECT_EQ(chip_.bulkTransfers().size(), 3U);
    EXPECT_TRUE(chip_.receivedBytes().empty());
    EXPECT_EQ(chip_.interfaceReleases(), 1);
}

TEST_F(TimedOutTransferTest, TimeOutOfAQueuedTransferRunsFromWhenTheOneBeforeIsDone) {
    // Four seconds per slice: slow, but in time for each, counted from when it has the bus.
    drains_ = {{std::chrono::milliseconds(4000), 1},
               {std::chrono::milliseconds(8000), 1},
               {std::chrono::milliseconds(12000), 2}};
    FT_HANDLE handle = openHeldChip();
    for (std::size_t slice = 0; slice < 4; ++slice) {
        EXPECT_EQ(writeSlice(handle, slice), FT_OK) << "slice " << slice;
    }
    EXPECT_EQ(close(timedTable_, handle), FT_OK);
    EXPECT_EQ(confirmed_, 4U * 6400U);
    EXPECT_EQ(chip_.discardedTransfers(), 0U);
    EXPECT_EQ(chip_.receivedBytes(), bytes_);
}

TEST_F(LibFtdiDriverTest, CallsWithoutAnOpenDeviceFailWithoutTouchingTheBus) {
    std::uint8_t byte = 0;
    DWORD written = 99;
    EXPECT_EQ(write(nullptr, &byte, 1, written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0U);
    EXPECT_EQ(close(nullptr), FT_INVALID_HANDLE);
}

}  // namespace
}  // namespace iqfeeder

int main(int argc, char** argv) {
    iqfeeder::testing::ensureUmockdevPreload(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
