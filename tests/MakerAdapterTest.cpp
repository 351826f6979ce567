// The adapter that speaks D2XX for the driver table, over D2XX calls of the test's: what it
// asks of the library, and what it makes of the answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/MakerLibraryDriver.h"

namespace iqfeeder {
namespace {

// The library's side. D2XX calls take no context, so the one library lives here.
struct Library {
    DWORD count = 2;
    std::vector<std::string> descriptions{"A", "B"};
    FT_STATUS writeStatus = FT_OK;
    DWORD accepts = 6400;
    bool open = false;
    std::size_t buffersOffered = 0;
    std::vector<std::string> calls;
} library;

FT_STATUS IQFEEDER_FTAPI listDevices(void* arg1, void* arg2, DWORD flags) {
    if (flags == FT_LIST_NUMBER_ONLY) {
        library.calls.push_back("count");
        *static_cast<DWORD*>(arg1) = library.count;
        return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        const auto index = reinterpret_cast<std::uintptr_t>(arg1);
        library.calls.push_back("serial " + std::to_string(index) + (library.open ? " open" : ""));
        // Every byte of the 64 used, with no terminator.
        std::memset(arg2, static_cast<int>('0' + index), kDescriptionBytes);
        return FT_OK;
    }
    library.calls.push_back("all");
    auto** buffers = static_cast<char**>(arg1);
    for (library.buffersOffered = 0; buffers[library.buffersOffered] != nullptr;
         ++library.buffersOffered) {
    }
    for (std::size_t i = 0; i < library.descriptions.size() && i < library.buffersOffered; ++i) {
        std::memcpy(buffers[i], library.descriptions[i].data(),
                    std::min<std::size_t>(library.descriptions[i].size() + 1, kDescriptionBytes));
    }
    *static_cast<DWORD*>(arg2) = static_cast<DWORD>(library.descriptions.size());
    return FT_OK;
}
FT_STATUS IQFEEDER_FTAPI openDevice(int, FT_HANDLE* handle) {
    library.open = true;
    *handle = &library;
    return FT_OK;
}
FT_STATUS IQFEEDER_FTAPI writeDevice(FT_HANDLE, void*, DWORD, DWORD* written) {
    *written = library.writeStatus == FT_OK ? library.accepts : 0;
    return library.writeStatus;
}
FT_STATUS IQFEEDER_FTAPI closeDevice(FT_HANDLE) {
    library.open = false;
    return FT_IO_ERROR;  // never looked at
}

class MakerAdapterTest : public ::testing::Test {
  protected:
    void SetUp() override { library = Library{}; }

    Ftd2xxAdapter adapter_{{listDevices, openDevice, writeDevice, closeDevice}};
    DriverTable table_ = adapter_.table();
    std::vector<ListedDevice> devices_;
};

TEST_F(MakerAdapterTest, ListsByCountAndDescriptionsWithRoomForEveryDevice) {
    library.descriptions = std::vector<std::string>(12, "dev");
    library.descriptions[0] = std::string(64, 'x');  // fills its buffer, unterminated
    library.count = 12;
    EXPECT_EQ(table_.list(table_.context, false, devices_), FT_OK);
    EXPECT_EQ(library.calls, (std::vector<std::string>{"count", "all"}));
    EXPECT_GE(library.buffersOffered, 12U);
    ASSERT_EQ(devices_.size(), 12U);
    EXPECT_EQ(devices_[0].description, std::string(64, 'x'));
    EXPECT_EQ(devices_[1].description, "dev");
    EXPECT_EQ(devices_[1].serial, "");
}

TEST_F(MakerAdapterTest, ReadsSerialNumbersByIndexAndOnlyWhenAsked) {
    EXPECT_EQ(table_.list(table_.context, true, devices_), FT_OK);
    EXPECT_EQ(library.calls, (std::vector<std::string>{"count", "all", "serial 0", "serial 1"}));
    ASSERT_EQ(devices_.size(), 2U);
    EXPECT_EQ(devices_[1].serial, std::string(64, '1'));  // within its 64 bytes only
}

TEST_F(MakerAdapterTest, AnImpossibleOrZeroDeviceCountIsAFailedListing) {
    for (const DWORD count : {DWORD{0}, DWORD{4097}, DWORD{0xFFFFFFFC}, DWORD{0xFFFFFFFF}}) {
        library.count = count;
        library.calls.clear();
        EXPECT_NE(table_.list(table_.context, true, devices_), FT_OK) << count;
        EXPECT_TRUE(devices_.empty()) << count;
        EXPECT_EQ(library.calls, std::vector<std::string>{"count"}) << count;
    }
}

TEST_F(MakerAdapterTest, EveryByteOfASuccessfulWriteIsConfirmedAtOnce) {
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(table_.open(table_.context, 0, &handle), FT_OK);
    std::vector<std::uint8_t> slice(6400, 1);
    WriteReport report;
    library.accepts = 100;  // short: told, and done with all the same
    EXPECT_EQ(table_.write(table_.context, handle, slice.data(), 6400, report), FT_OK);
    EXPECT_EQ(report.taken, 100U);
    EXPECT_EQ(report.confirmed, 6400U);
    library.writeStatus = FT_IO_ERROR;
    EXPECT_EQ(table_.write(table_.context, handle, slice.data(), 6400, report), FT_IO_ERROR);
    EXPECT_EQ(report.confirmed, 6400U);
    std::uint64_t confirmed = 0;
    EXPECT_EQ(table_.close(table_.context, handle, confirmed), FT_OK);
    EXPECT_EQ(confirmed, 6400U);
    EXPECT_FALSE(library.open);
}

}  // namespace
}  // namespace iqfeeder
