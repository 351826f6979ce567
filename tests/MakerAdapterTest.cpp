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
    FT_STATUS closeStatus = FT_OK;
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
    library.calls.push_back("close");
    return library.closeStatus;
}
FT_STATUS IQFEEDER_FTAPI setTimeouts(FT_HANDLE, DWORD read, DWORD write) {
    library.calls.push_back("timeouts " + std::to_string(read) + " " + std::to_string(write));
    return FT_OK;
}

class MakerAdapterTest : public ::testing::Test {
  protected:
    void SetUp() override { library = Library{}; }

    Ftd2xxAdapter adapter_{{listDevices, openDevice, writeDevice, closeDevice, setTimeouts}};
    DriverTable table_ = adapter_.table();
    std::vector<ListedDevice> devices_;
};

TEST_F(MakerAdapterTest, ListsByCountAndDescriptionsWithRoomForEveryDevice) {
    library.descriptions = std::vector<std::string>(12, "dev");
    library.descriptions[0] = std::string(64, 'x');  // fills its buffer, unterminated
    library.count = 12;
    EXPECT_TRUE(table_.list(table_.context, false, devices_));
    EXPECT_EQ(library.calls, (std::vector<std::string>{"count", "all"}));
    EXPECT_GE(library.buffersOffered, 12U);
    ASSERT_EQ(devices_.size(), 12U);
    EXPECT_EQ(devices_[0].description, std::string(64, 'x'));
    EXPECT_EQ(devices_[1].description, "dev");
    EXPECT_EQ(devices_[1].serial, "");
}

TEST_F(MakerAdapterTest, ReadsSerialNumbersByIndexAndOnlyWhenAsked) {
    EXPECT_TRUE(table_.list(table_.context, true, devices_));
    EXPECT_EQ(library.calls, (std::vector<std::string>{"count", "all", "serial 0", "serial 1"}));
    ASSERT_EQ(devices_.size(), 2U);
    EXPECT_EQ(devices_[1].serial, std::string(64, '1'));  // within its 64 bytes only
}

TEST_F(MakerAdapterTest, AnImpossibleOrZeroDeviceCountIsAFailedListing) {
    for (const DWORD count : {DWORD{0}, DWORD{4097}, DWORD{0xFFFFFFFC}, DWORD{0xFFFFFFFF}}) {
        library.count = count;
        library.calls.clear();
        EXPECT_FALSE(table_.list(table_.context, true, devices_)) << count;
        EXPECT_TRUE(devices_.empty()) << count;
        EXPECT_EQ(library.calls, std::vector<std::string>{"count"}) << count;
    }
}

// What FT_Write says, in the program's own terms, told by the status call once it has returned.
struct WriteCase {
    const char* name;
    FT_STATUS status;
    DWORD accepts;
    SliceFate fate;
    std::uint32_t taken;
};

class WriteFateTest : public MakerAdapterTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteFateTest, EachWriteIsReportedOnceWithWhatTheChipTook) {
    const WriteCase& c = GetParam();
    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    std::vector<std::uint8_t> slice(6400, 1);
    library.writeStatus = c.status;
    library.accepts = c.accepts;
    table_.submit(table_.context, handle, {slice.data(), 6400, 7});
    std::vector<SliceReport> reports;
    table_.status(table_.context, handle, reports);
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].id, 7U);
    EXPECT_EQ(reports[0].fate, c.fate);
    EXPECT_EQ(reports[0].taken, c.taken);
    reports.clear();
    table_.status(table_.context, handle, reports);
    EXPECT_TRUE(reports.empty());  // told once
}

INSTANTIATE_TEST_SUITE_P(
    Fates, WriteFateTest,
    ::testing::Values(WriteCase{"Whole", FT_OK, 6400, SliceFate::Taken, 6400},
                      WriteCase{"TimedOutPartWay", FT_OK, 100, SliceFate::Short, 100},
                      WriteCase{"IoError", FT_IO_ERROR, 0, SliceFate::Gone, 0},
                      WriteCase{"DeviceNotFound", FT_DEVICE_NOT_FOUND, 0, SliceFate::Gone, 0},
                      WriteCase{"OtherError", FT_OTHER_ERROR, 0, SliceFate::Failed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A plain open makes no call but FT_Open; an unattended one sets the write time-out too.
TEST_F(MakerAdapterTest, WriteTimeOutIsSetOnlyWhenAskedFor) {
    DeviceHandle handle = nullptr;
    ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
    ASSERT_TRUE(table_.open(table_.context, 0, OpenSettings{1000}, &handle));
    EXPECT_EQ(library.calls, std::vector<std::string>{"timeouts 1000 1000"});
    Ftd2xxAdapter without{{listDevices, openDevice, writeDevice, closeDevice, nullptr}};
    const DriverTable table = without.table();
    EXPECT_TRUE(table.open(table.context, 0, OpenSettings{1000}, &handle));
    EXPECT_EQ(library.calls.size(), 1U);
}

TEST_F(MakerAdapterTest, CloseSaysWhetherFtCloseSucceeded) {
    for (const FT_STATUS status : {FT_OK, FT_IO_ERROR}) {
        DeviceHandle handle = nullptr;
        ASSERT_TRUE(table_.open(table_.context, 0, {}, &handle));
        library.closeStatus = status;
        std::vector<SliceReport> reports;
        EXPECT_EQ(table_.close(table_.context, handle, reports), status == FT_OK);
        EXPECT_FALSE(library.open);
    }
}

}  // namespace
}  // namespace iqfeeder
