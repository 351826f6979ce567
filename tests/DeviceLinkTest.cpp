#include <gtest/gtest.h>

#include <algorithm>
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
    std::ostringstream errors_;
    Console diagnostics_{errors_};
    FakeDriver driver_;
};

struct ListingCase {
    const char* name;
    FT_STATUS listStatus;
    std::vector<std::string> descriptions;
    std::string expected;
    bool opens;
    DeviceChoice choice = {};
    std::vector<std::string> serials = {};
    std::string openCall = "open 0";
    std::string diagnostics = "";
};

class ListingTest : public DeviceLinkTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, PrintsTheListAndOpensOnlyAfterASuccessfulListing) {
    const ListingCase& c = GetParam();
    driver_.listStatus = c.listStatus;
    driver_.descriptions = c.descriptions;
    driver_.serials = c.serials;
    DeviceLink link(driver_.table(), console_, diagnostics_);
    link.listDevices();
    link.openDevice(c.choice);
    EXPECT_EQ(output(), c.expected);
    EXPECT_EQ(errors_.str(), c.diagnostics);
    EXPECT_EQ(driver_.handleOpen, c.opens);
    const bool openCalled =
        std::find(driver_.calls.begin(), driver_.calls.end(), c.openCall) != driver_.calls.end();
    EXPECT_EQ(openCalled, c.opens);
}

const std::string k64 = std::string(64, 'x');

INSTANTIATE_TEST_SUITE_P(
    Listing, ListingTest,
    ::testing::Values(
        ListingCase{"OneDevice",
                    FT_OK,
                    {"FT232R USB UART"},
                    "\nDevices connected:\n0: FT232R USB UART\n\n",
                    true},
        ListingCase{"TwoDevices", FT_OK, {"A", "B"}, "\nDevices connected:\n0: A\n1: B\n\n", true},
        ListingCase{"ThreeDevicesShowTwo",
                    FT_OK,
                    {"A", "B", "C"},
                    "\nDevices connected:\n0: A\n1: B\n\n",
                    true},
        ListingCase{"ZeroDevices", FT_OK, {}, kNoDeviceLines, false},
        ListingCase{"ListFails", FT_DEVICE_NOT_FOUND, {"A"}, kNoDeviceLines, false},
        // The operator's choice: one more line names any device but the first.
        ListingCase{"PickedByIndex",
                    FT_OK,
                    {"A", "B", "C"},
                    "\nDevices connected:\n0: A\n1: B\n\nUsing device 2: C\n",
                    true,
                    {2, ""},
                    {},
                    "open 2"},
        ListingCase{"PickedPastTheListing",
                    FT_OK,
                    {"A"},
                    "\nDevices connected:\n0: A\n\nUsing device 7\n",
                    true,
                    {7, ""},
                    {},
                    "open 7"},
        ListingCase{"PickedBySerial",
                    FT_OK,
                    {"A", "B"},
                    "\nDevices connected:\n0: A\n1: B\n\nUsing device 1: B\n",
                    true,
                    {0, "S1"},
                    {"S0", "S1"},
                    "open 1"},
        ListingCase{"AbsentSerial",
                    FT_OK,
                    {"A", "B"},
                    "\nDevices connected:\n0: A\n1: B\n\nCan't open FTDI Device.\n",
                    false,
                    {0, "S9"},
                    {"S0", "S1"},
                    "open 0",
                    "iqfeeder: no attached device has the serial number \"S9\"; attached: "
                    "\"S0\", \"S1\"\n"},
        ListingCase{"SerialWithoutDevices",
                    FT_OK,
                    {},
                    kNoDeviceLines,
                    false,
                    {0, "S0"},
                    {},
                    "open 0",
                    "iqfeeder: no attached device has the serial number \"S0\"; no device is "
                    "attached\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceLinkTest, DeviceTableShowsEverySerialAndDescriptionByIndex) {
    driver_.descriptions = {"A", "B"};
    driver_.serials = {"S0"};  // the second device has none
    DeviceLink link(driver_.table(), console_);
    EXPECT_EQ(link.printDeviceTable(), 2U);
    EXPECT_EQ(output(), "0: serial \"S0\", description \"A\"\n1: serial \"\", description \"B\"\n");
    EXPECT_EQ(driver_.calls, std::vector<std::string>{"list with serials"});
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
    EXPECT_EQ(driver_.calls, (std::vector<std::string>{"list", "open 0"}));
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
    EXPECT_EQ(link_.counters().failedWrites, 1U);
    EXPECT_EQ(link_.counters().bytesAccepted, 6400U + 32000U);
}

TEST_F(SendTest, StopAskedForDuringASliceEndsTheBufferAfterIt) {
    DeviceLink link(driver_.table(), console_, console_,
                    [this] { return driver_.writeSizes.size() >= 2; });
    link.listDevices();
    link.openFirstDevice();
    auto buffer = numbered(32000);
    link.sendBuffer(buffer.data(), 32000);
    link.sendBuffer(buffer.data(), 32000);
    EXPECT_EQ(driver_.writeSizes, std::vector<std::uint32_t>(2, 6400));
    EXPECT_EQ(link.counters().bytesAccepted, 12800U);
    EXPECT_EQ(link.counters().failedWrites, 0U);
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
    EXPECT_EQ(link_.counters().shortWrites, 5U);
    EXPECT_EQ(link_.counters().bytesAccepted, 500U);
}

// With reconnecting on, only a device that is gone is lost: closed, said once, no line per
// buffer after that. Any other failure is reported as always.
TEST_F(DeviceLinkTest, WithReconnectingOnlyAGoneDeviceIsLost) {
    for (const auto& [status, lost] :
         {std::pair{FT_IO_ERROR, true}, std::pair{FT_DEVICE_NOT_FOUND, true},
          std::pair{FT_OTHER_ERROR, false}}) {
        FakeDriver driver;
        driver.writeResult = [status = status](std::size_t index) {
            return index == 1 ? WriteResult{status, 0} : WriteResult{};
        };
        std::ostringstream out;
        Console console(out);
        DeviceLink link(driver.table(), console);
        link.setReconnecting(true);
        link.listDevices();
        link.openFirstDevice();
        out.str("");
        std::vector<std::uint8_t> buffer(32000, 7);
        const SendResult first = link.sendBuffer(buffer.data(), 32000);
        const SendResult second = link.sendBuffer(buffer.data(), 32000);
        // Lost, the rest of the buffer is kept for the device's return; failed, it is dropped.
        EXPECT_EQ(first.unsent, lost ? 0U : 25600U) << status;
        EXPECT_EQ(first.failed, !lost) << status;
        EXPECT_EQ(first.lost, lost) << status;
        EXPECT_EQ(link.lost(), lost) << status;
        EXPECT_EQ(second.lost, lost) << status;
        EXPECT_EQ(out.str(),
                  lost ? "FTDI device lost, looking for it.....\n" : "FT_W32_WriteFile Failed\n")
            << status;
        // Gone: closed at once, and written to no more until it is back.
        EXPECT_EQ(driver.calls.back(), lost ? "close" : "write 6400") << status;
        EXPECT_EQ(driver.writeSizes.size(), lost ? 2U : 7U) << status;
    }
}

// A lost device is looked for by the serial number listed before the open; one without a
// serial number only at an index the operator named, which standard error says once.
struct ReconnectRuleCase {
    const char* name;
    std::vector<std::string> serials;
    DeviceChoice choice;
    std::string diagnostics;
    bool reconnects;  // with another chip, serial "OTHER" where there is one, moved to index 0
};

class ReconnectRuleTest : public DeviceLinkTest,
                          public ::testing::WithParamInterface<ReconnectRuleCase> {};

TEST_P(ReconnectRuleTest, GoesBackOnlyToTheSameChipOrTheNamedIndex) {
    const ReconnectRuleCase& c = GetParam();
    driver_.descriptions = {"A", "B"};
    driver_.serials = c.serials;
    DeviceLink link(driver_.table(), console_, diagnostics_);
    link.setReconnecting(true);
    link.listDevices();
    link.openDevice(c.choice);
    EXPECT_FALSE(driver_.serialsAskedWhileOpen);
    driver_.unplugged = true;
    std::vector<std::uint8_t> buffer(32000, 7);
    EXPECT_TRUE(link.sendBuffer(buffer.data(), 32000).lost);
    EXPECT_FALSE(link.reconnect());
    // Back, with the chip at the operator's index and the one that went elsewhere.
    driver_.unplugged = false;
    if (c.serials.size() == 2) {
        driver_.serials = {c.serials[1], "OTHER"};
    }
    const bool back = link.reconnect();
    EXPECT_EQ(back, c.reconnects);
    EXPECT_EQ(errors_.str(), c.diagnostics);
    const std::string lastOpen = "open " + std::to_string(c.serials.size() == 2 ? 0 : 1);
    EXPECT_EQ(driver_.calls.back() == "write 6400", c.reconnects);
    EXPECT_EQ(std::count(driver_.calls.begin(), driver_.calls.end(), lastOpen) > 0, c.reconnects);
    EXPECT_FALSE(driver_.serialsAskedWhileOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ReconnectRuleTest,
    ::testing::Values(
        // Opened at index 1 as S1; back at index 0 under the same serial.
        ReconnectRuleCase{"BySerial", {"S0", "S1"}, {1, "", true}, "", true},
        ReconnectRuleCase{
            "NoSerialIndexNamed",
            {},
            {1, "", true},
            "iqfeeder: device 1 has no serial number; if it is lost, it is looked for again at "
            "index 1, whatever chip is there\n",
            true},
        ReconnectRuleCase{"NoSerialIndexNotNamed",
                          {},
                          {},
                          "iqfeeder: device 0 has no serial number, so if it is lost it can't be "
                          "told from another chip and is not looked for; name its index with -d "
                          "to have it looked for there\n",
                          false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceLinkTest, ClosesTheDeviceWhenItGoes) {
    {
        DeviceLink link(driver_.table(), console_);
        link.listDevices();
        link.openFirstDevice();
        EXPECT_TRUE(driver_.handleOpen);
    }
    EXPECT_FALSE(driver_.handleOpen);
    EXPECT_EQ(driver_.calls.back(), "close");
}

TEST_F(SendTest, CloseHappensOnceWithTheOpenHandle) {
    link_.closeDevice();
    link_.closeDevice();
    EXPECT_EQ(driver_.calls, (std::vector<std::string>{"close"}));
    EXPECT_FALSE(driver_.usedBadHandle);
}

}  // namespace
}  // namespace iqfeeder
