#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "device/DeviceLink.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/FakeDriver.h"

namespace iqfeeder {
namespace {

using testing::FakeDriver;
using testing::kNoDeviceLines;
using testing::WriteResult;

class DeviceLinkTest : public ::testing::Test {
  protected:
    std::string output() const { return out_.str(); }

    std::ostringstream out_;
    Console console_{out_};
    FakeDriver driver_;
};

struct ListingCase {
    const char* name;
    FT_STATUS countStatus;
    FT_STATUS listStatus;
    std::vector<std::string> descriptions;
    std::string expected;
    bool opens;
};

class ListingTest : public DeviceLinkTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, PrintsTheListAndOpensOnlyAfterASuccessfulListing) {
    const ListingCase& c = GetParam();
    driver_.countStatus = c.countStatus;
    driver_.listStatus = c.listStatus;
    driver_.descriptions = c.descriptions;
    DeviceLink link(driver_.table(), console_);
    link.listDevices();
    link.openFirstDevice();
    EXPECT_EQ(output(), c.expected);
    EXPECT_EQ(driver_.handleOpen, c.opens);
    const bool openCalled =
        std::find(driver_.calls.begin(), driver_.calls.end(), "open 0") != driver_.calls.end();
    EXPECT_EQ(openCalled, c.opens);
}

const std::string k64 = std::string(64, 'x');

INSTANTIATE_TEST_SUITE_P(
    Listing, ListingTest,
    ::testing::Values(
        ListingCase{"OneDevice",
                    FT_OK,
                    FT_OK,
                    {"FT232R USB UART"},
                    "\nDevices connected:\n0: FT232R USB UART\n\n",
                    true},
        ListingCase{
            "TwoDevices", FT_OK, FT_OK, {"A", "B"}, "\nDevices connected:\n0: A\n1: B\n\n", true},
        ListingCase{"ThreeDevicesShowTwo",
                    FT_OK,
                    FT_OK,
                    {"A", "B", "C"},
                    "\nDevices connected:\n0: A\n1: B\n\n",
                    true},
        // A description filling all 64 bytes has no terminator; nothing past it is printed.
        ListingCase{"UnterminatedDescription",
                    FT_OK,
                    FT_OK,
                    {k64, "B"},
                    "\nDevices connected:\n0: " + k64 + "\n1: B\n\n",
                    true},
        ListingCase{"ZeroDevices", FT_OK, FT_OK, {}, kNoDeviceLines, false},
        ListingCase{"CountFails", FT_OTHER_ERROR, FT_OK, {"A"}, kNoDeviceLines, false},
        ListingCase{"ListFails", FT_OK, FT_DEVICE_NOT_FOUND, {"A"}, kNoDeviceLines, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceLinkTest, ListingOffersABufferForEveryAttachedDevice) {
    driver_.descriptions = std::vector<std::string>(12, "dev");
    DeviceLink link(driver_.table(), console_);
    link.listDevices();
    EXPECT_GE(driver_.listBuffersOffered, 12U);
    EXPECT_EQ(output(), "\nDevices connected:\n0: dev\n1: dev\n\n");
}

TEST_F(DeviceLinkTest, AnImpossibleDeviceCountCountsAsAFailedListing) {
    for (const DWORD count : {DWORD{4097}, DWORD{0xFFFFFFFC}, DWORD{0xFFFFFFFF}}) {
        FakeDriver driver;
        driver.reportedCount = count;
        std::ostringstream out;
        Console console(out);
        DeviceLink link(driver.table(), console);
        link.listDevices();
        link.openFirstDevice();
        EXPECT_EQ(out.str(), kNoDeviceLines) << count;
        EXPECT_EQ(driver.calls, std::vector<std::string>{"count"}) << count;
    }
}

TEST_F(DeviceLinkTest, FailedOpenIsReportedAndLeavesTheLibraryAlone) {
    driver_.openStatus = FT_DEVICE_NOT_OPENED;
    DeviceLink link(driver_.table(), console_);
    link.listDevices();
    link.openFirstDevice();
    std::vector<std::uint8_t> buffer(32000, 1);
    link.sendBuffer(buffer.data(), 32000);
    link.sendBuffer(buffer.data(), 32000);
    link.closeDevice();
    EXPECT_EQ(output(),
              "\nDevices connected:\n0: USB <-> Serial\n\nCan't open FTDI Device.\n"
              "FT_W32_WriteFile Failed\nFT_W32_WriteFile Failed\n");
    EXPECT_EQ(driver_.calls, (std::vector<std::string>{"count", "list", "open 0"}));
    EXPECT_FALSE(driver_.usedBadHandle);
}

class SendTest : public DeviceLinkTest {
  protected:
    void SetUp() override {
        link_.listDevices();
        link_.openFirstDevice();
        out_.str("");
        driver_.calls.clear();
    }
    std::vector<std::uint8_t> numbered(std::size_t size) {
        std::vector<std::uint8_t> buffer(size);
        for (std::size_t i = 0; i < size; ++i) {
            buffer[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
        }
        return buffer;
    }
    DeviceLink link_{driver_.table(), console_};
};

TEST_F(SendTest, BuffersGoOutAsFiveEqualSlicesInOrder) {
    for (std::uint32_t size : {32000U, 64000U}) {
        driver_.bytes.clear();
        driver_.writeSizes.clear();
        auto buffer = numbered(size);
        link_.sendBuffer(buffer.data(), size);
        EXPECT_EQ(driver_.writeSizes, std::vector<std::uint32_t>(5, size / 5));
        EXPECT_EQ(driver_.bytes, buffer);
    }
    EXPECT_EQ(output(), "");
}

TEST_F(SendTest, FailureOnSecondSliceDropsTheRestOfThatBufferOnly) {
    driver_.writeResult = [](std::size_t index) {
        return index == 1 ? WriteResult{FT_IO_ERROR, 0} : WriteResult{};
    };
    auto first = numbered(32000);
    link_.sendBuffer(first.data(), 32000);
    EXPECT_EQ(output(), "FT_W32_WriteFile Failed\n");
    EXPECT_EQ(driver_.writeSizes.size(), 2U);
    EXPECT_EQ(driver_.bytes, std::vector<std::uint8_t>(first.begin(), first.begin() + 6400));

    auto second = numbered(32000);
    link_.sendBuffer(second.data(), 32000);
    EXPECT_EQ(driver_.writeSizes.size(), 7U);
    EXPECT_EQ(output(), "FT_W32_WriteFile Failed\n");
}

TEST_F(SendTest, EveryShortSliceIsReportedAndNotResent) {
    driver_.writeResult = [](std::size_t) { return WriteResult{FT_OK, 100}; };
    auto buffer = numbered(32000);
    link_.sendBuffer(buffer.data(), 32000);
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        expected += "FT_W32_WriteFile TimeOut\n";
    }
    EXPECT_EQ(output(), expected);
    EXPECT_EQ(driver_.writeSizes, std::vector<std::uint32_t>(5, 6400));
    std::vector<std::uint8_t> expectedBytes;
    for (std::size_t slice = 0; slice < 5; ++slice) {
        expectedBytes.insert(expectedBytes.end(), buffer.begin() + slice * 6400,
                             buffer.begin() + slice * 6400 + 100);
    }
    EXPECT_EQ(driver_.bytes, expectedBytes);
}

TEST_F(SendTest, CloseHappensOnceWithTheOpenHandle) {
    link_.closeDevice();
    link_.closeDevice();
    EXPECT_EQ(driver_.calls, (std::vector<std::string>{"close"}));
    EXPECT_FALSE(driver_.usedBadHandle);
}

}  // namespace
}  // namespace iqfeeder
