#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "device/DeviceLink.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::FakeDriver;
using testing::kNoDeviceLines;
using testing::patternBytes;
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
    bool listFails;
    std::vector<std::string> descriptions;
    std::string expected;
    bool opens;
    DeviceChoice choice = {};
    std::vector<std::string> serials = {};
    std::string openCall = "open 0";
    std::string diagnostics = "";
};
void PrintTo(const ListingCase& c, std::ostream* out) {
    *out << c.name;
}

class ListingTest : public DeviceLinkTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, PrintsTheListAndOpensOnlyAfterASuccessfulListing) {
    const ListingCase& c = GetParam();
    driver_.listFails = c.listFails;
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
                    false,
                    {"FT232R USB UART"},
                    "\nDevices connected:\n0: FT232R USB UART\n\n",
                    true},
        ListingCase{"TwoDevices", false, {"A", "B"}, "\nDevices connected:\n0: A\n1: B\n\n", true},
        ListingCase{"ThreeDevicesShowTwo",
                    false,
                    {"A", "B", "C"},
                    "\nDevices connected:\n0: A\n1: B\n\n",
                    true},
        ListingCase{"ZeroDevices", false, {}, kNoDeviceLines, false},
        ListingCase{"ListFails", true, {"A"}, kNoDeviceLines, false},
        // The operator's choice: one more line names any device but the first.
        ListingCase{"PickedByIndex",
                    false,
                    {"A", "B", "C"},
                    "\nDevices connected:\n0: A\n1: B\n\nUsing device 2: C\n",
                    true,
                    {2, ""},
                    {},
                    "open 2"},
        ListingCase{"PickedPastTheListing",
                    false,
                    {"A"},
                    "\nDevices connected:\n0: A\n\nUsing device 7\n",
                    true,
                    {7, ""},
                    {},
                    "open 7"},
        ListingCase{"PickedBySerial",
                    false,
                    {"A", "B"},
                    "\nDevices connected:\n0: A\n1: B\n\nUsing device 1: B\n",
                    true,
                    {0, "S1"},
                    {"S0", "S1"},
                    "open 1"},
        ListingCase{"AbsentSerial",
                    false,
                    {"A", "B"},
                    "\nDevices connected:\n0: A\n1: B\n\nCan't open FTDI Device.\n",
                    false,
                    {0, "S9"},
                    {"S0", "S1"},
                    "open 0",
                    "iqfeeder: no attached device has the serial number \"S9\"; attached: "
                    "\"S0\", \"S1\"\n"},
        ListingCase{"SerialWithoutDevices",
                    false,
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
    driver_.openFails = true;
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
        return index == 1 ? WriteResult{SliceFate::Gone} : WriteResult{};
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

// The ring's rules, in one table: two buffers of 32000 bytes, each slice's fate told at once or
// two slices late, and what the device then got, what was said, and what is counted.
struct RingCase {
    const char* name;
    std::size_t lag;
    bool reconnecting;
    std::function<WriteResult(std::size_t)> result;  // by write index
    std::size_t unplugAt;  // the write from which the device is gone; SIZE_MAX: never
    bool unplugAtClose;
    // What the device got: bytes [from, to) of buffer 'A' or 'B', in order.
    std::vector<std::tuple<char, std::size_t, std::size_t>> sent;
    std::string console;
    std::uint64_t failed;
    std::uint64_t shortWrites;
};
void PrintTo(const RingCase& c, std::ostream* out) {
    *out << c.name;
}

class RingRuleTest : public DeviceLinkTest, public ::testing::WithParamInterface<RingCase> {};

TEST_P(RingRuleTest, EveryByteGoesInOrderOrIsDroppedWithItsBuffer) {
    const RingCase& c = GetParam();
    driver_.confirmLag = c.lag;
    driver_.writeResult = [&](std::size_t index) {
        driver_.unplugged = driver_.unplugged || index == c.unplugAt;
        return c.result ? c.result(index) : WriteResult{};
    };
    DeviceLink link(driver_.table(), console_, diagnostics_);
    link.setReconnecting(c.reconnecting);
    link.listDevices();
    link.openFirstDevice();
    out_.str("");
    const auto comeBack = [&] {
        if (link.lost()) {
            driver_.unplugged = false;
            EXPECT_TRUE(link.reconnect());
        }
    };
    std::vector<std::uint8_t> buffers[2] = {patternBytes(32000), patternBytes(32000, 50000)};
    for (auto& buffer : buffers) {
        // The bytes are the ring's: read into its room, as the run does.
        const std::span<std::uint8_t> room = link.room(32000);
        std::copy(buffer.begin(), buffer.end(), room.begin());
        link.sendBuffer(room.data(), 32000);
        comeBack();
    }
    driver_.unplugged = c.unplugAtClose;
    link.closeDevice();
    EXPECT_EQ(link.holdsUnsent(), c.unplugAtClose);
    comeBack();
    link.closeDevice();

    std::vector<std::uint8_t> expected;
    for (const auto& [buffer, from, to] : c.sent) {
        const auto& bytes = buffers[buffer == 'A' ? 0 : 1];
        expected.insert(expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                        bytes.begin() + static_cast<std::ptrdiff_t>(to));
    }
    EXPECT_TRUE(driver_.bytes == expected) << driver_.bytes.size() << " bytes sent";
    EXPECT_EQ(output(), c.console);
    EXPECT_EQ(link.counters().failedWrites, c.failed);
    EXPECT_EQ(link.counters().shortWrites, c.shortWrites);
    EXPECT_EQ(link.counters().copiedBuffers, 0U);
    EXPECT_FALSE(driver_.bytesChangedInFlight);
    EXPECT_FALSE(driver_.handleOpen);
    EXPECT_EQ(errors_.str(), "");
}

WriteResult at(std::size_t index, std::size_t wanted, WriteResult result) {
    return index == wanted ? result : WriteResult{};
}

const std::string kLostAndBack =
    "FTDI device lost, looking for it.....\nFTDI device back, streaming on.\n";

INSTANTIATE_TEST_SUITE_P(
    Rules, RingRuleTest,
    ::testing::Values(
        RingCase{
            "Taken", 0, false, {}, SIZE_MAX, false, {{'A', 0, 32000}, {'B', 0, 32000}}, "", 0, 0},
        // The rest of a slice taken short goes next: once a slice, the line.
        RingCase{"ShortByOneByteEveryWrite",
                 0,
                 false,
                 [](std::size_t) {
                     return WriteResult{SliceFate::Taken, -1, 1};
                 },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 [] {
                     std::string lines;
                     for (int i = 0; i < 10; ++i) {
                         lines += "FT_W32_WriteFile TimeOut\n";
                     }
                     return lines;
                 }(),
                 0,
                 10},
        RingCase{"ShortRestTakenShortAgainIsOneLine",
                 0,
                 false,
                 [](std::size_t i) {
                     return i < 3 ? WriteResult{SliceFate::Taken, 2000} : WriteResult{};
                 },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 "FT_W32_WriteFile TimeOut\n",
                 0,
                 1},
        RingCase{"ShortLateRestGoesFirstOfWhatWaits",
                 2,
                 false,
                 [](std::size_t i) {
                     return at(i, 4, {SliceFate::Taken, 100});
                 },
                 SIZE_MAX,
                 false,
                 // The two slices behind it were on their way already.
                 {{'A', 0, 25700}, {'B', 0, 12800}, {'A', 25700, 32000}, {'B', 12800, 32000}},
                 "FT_W32_WriteFile TimeOut\n",
                 0,
                 1},
        RingCase{"NothingTakenIsFailed",
                 0,
                 false,
                 [](std::size_t i) {
                     return at(i, 1, {SliceFate::Taken, 0});
                 },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 6400}, {'B', 0, 32000}},
                 "FT_W32_WriteFile Failed\n",
                 1,
                 0},
        RingCase{"FailedLateDropsOnlyTheRestOfItsOwnBuffer",
                 2,
                 false,
                 [](std::size_t i) { return at(i, 3, {SliceFate::Failed}); },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 19200}, {'A', 25600, 32000}, {'B', 0, 32000}},
                 "FT_W32_WriteFile Failed\n",
                 1,
                 0},
        RingCase{"GoneWithoutReconnectingIsFailed",
                 0,
                 false,
                 [](std::size_t i) { return at(i, 1, {SliceFate::Gone}); },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 6400}, {'B', 0, 32000}},
                 "FT_W32_WriteFile Failed\n",
                 1,
                 0},
        RingCase{"GoneKeepsWhatItDidNotTake",
                 0,
                 true,
                 {},
                 1,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 kLostAndBack,
                 1,
                 0},
        RingCase{"GoneLateKeepsTheTwoOnTheirWay",
                 2,
                 true,
                 {},
                 6,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 kLostAndBack,
                 1,
                 0},
        RingCase{"TimedOutWithReconnectingIsGone",
                 0,
                 true,
                 [](std::size_t i) { return at(i, 7, {SliceFate::TimedOut}); },
                 SIZE_MAX,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 kLostAndBack,
                 1,
                 0},
        RingCase{"InFlightAtCloseGoesBeforeTheClose",
                 2,
                 false,
                 {},
                 SIZE_MAX,
                 false,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 "",
                 0,
                 0},
        RingCase{"InFlightAtCloseGoneIsKept",
                 2,
                 true,
                 {},
                 SIZE_MAX,
                 true,
                 {{'A', 0, 32000}, {'B', 0, 32000}},
                 kLostAndBack,
                 1,
                 0}),
    [](const auto& info) { return std::string(info.param.name); });

// With reconnecting on, only a device that is gone is lost: closed, said once, no line per
// buffer after that. Any other failure is reported as always.
TEST_F(DeviceLinkTest, WithReconnectingOnlyAGoneDeviceIsLost) {
    for (const auto& [status, lost] :
         {std::pair{SliceFate::Gone, true}, std::pair{SliceFate::TimedOut, true},
          std::pair{SliceFate::Failed, false}}) {
        FakeDriver driver;
        driver.writeResult = [status = status](std::size_t index) {
            return index == 1 ? WriteResult{status} : WriteResult{};
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
        EXPECT_EQ(first.unsent, lost ? 0U : 25600U) << static_cast<int>(status);
        EXPECT_EQ(first.failed, !lost) << static_cast<int>(status);
        EXPECT_EQ(first.lost, lost) << static_cast<int>(status);
        EXPECT_EQ(link.lost(), lost) << static_cast<int>(status);
        EXPECT_EQ(second.lost, lost) << static_cast<int>(status);
        EXPECT_EQ(out.str(),
                  lost ? "FTDI device lost, looking for it.....\n" : "FT_W32_WriteFile Failed\n")
            << static_cast<int>(status);
        // Gone: closed at once, and written to no more until it is back.
        EXPECT_EQ(driver.calls.back(), lost ? "close" : "write 6400") << static_cast<int>(status);
        EXPECT_EQ(driver.writeSizes.size(), lost ? 2U : 7U) << static_cast<int>(status);
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
