#include "tests/support/FakeDriver.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace iqfeeder::testing {
namespace {

// Eight bytes at a time: runs send megabytes, and byte loops crawl in the sanitizer build.
std::uint64_t countNonZero(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    std::uint64_t zeros = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + i, sizeof word);
        // The top bit of each byte of `marks` is set exactly where `word` has a zero byte.
        const std::uint64_t marks = ~(((word & kLow7) + kLow7) | word | kLow7);
        zeros += static_cast<std::uint64_t>(std::popcount(marks));
    }
    for (; i < size; ++i) {
        zeros += data[i] == 0 ? 1U : 0U;
    }
    return size - zeros;
}

}  // namespace

DriverTable FakeDriver::table() {
    DriverTable table;
    table.context = this;
    table.listDevices = [](void* self, void* arg1, void* arg2, DWORD flags) {
        return static_cast<FakeDriver*>(self)->list(arg1, arg2, flags);
    };
    table.open = [](void* self, int index, FT_HANDLE* handle) {
        return static_cast<FakeDriver*>(self)->open(index, handle);
    };
    table.write = [](void* self, FT_HANDLE handle, void* buffer, DWORD size, DWORD* written) {
        return static_cast<FakeDriver*>(self)->write(handle, buffer, size, written);
    };
    table.close = [](void* self, FT_HANDLE handle) {
        return static_cast<FakeDriver*>(self)->close(handle);
    };
    return table;
}

FT_STATUS FakeDriver::list(void* arg1, void* arg2, DWORD flags) {
    const auto count = static_cast<DWORD>(descriptions.size());
    if (flags == FT_LIST_NUMBER_ONLY) {
        calls.push_back("count");
        if (countStatus == FT_OK) {
            *static_cast<DWORD*>(arg1) = reportedCount.value_or(count);
        }
        return countStatus;
    }
    if ((flags & FT_LIST_BY_INDEX) != 0) {
        const auto index = reinterpret_cast<std::uintptr_t>(arg1);
        const bool serial = flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        calls.push_back((serial ? "serial " : "description ") + std::to_string(index));
        const auto& texts = serial ? serials : descriptions;
        if (listStatus != FT_OK || index >= descriptions.size() || index >= texts.size()) {
            return listStatus == FT_OK ? FT_DEVICE_NOT_FOUND : listStatus;
        }
        std::strncpy(static_cast<char*>(arg2), texts[index].c_str(), kDescriptionBytes);
        return FT_OK;
    }
    calls.push_back("list");
    if (flags != (FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION) || listStatus != FT_OK) {
        return listStatus == FT_OK ? FT_OTHER_ERROR : listStatus;
    }
    // Like the real library, fill one buffer per device; count how many the caller offered so
    // a test can see there was room for all of them.
    auto** pointers = static_cast<char**>(arg1);
    listBuffersOffered = 0;
    while (pointers[listBuffersOffered] != nullptr) {
        ++listBuffersOffered;
    }
    for (std::size_t i = 0; i < descriptions.size() && i < listBuffersOffered; ++i) {
        const std::size_t length = std::min<std::size_t>(descriptions[i].size(), kDescriptionBytes);
        std::memcpy(pointers[i], descriptions[i].data(), length);
        if (length < kDescriptionBytes) {
            pointers[i][length] = '\0';
        }
    }
    *static_cast<DWORD*>(arg2) = count;
    return FT_OK;
}

FT_STATUS FakeDriver::open(int deviceIndex, FT_HANDLE* handle) {
    calls.push_back("open " + std::to_string(deviceIndex));
    if (openStatus != FT_OK) {
        return openStatus;
    }
    *handle = &handleToken_;
    handleOpen = true;
    return FT_OK;
}

FT_STATUS FakeDriver::write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                            DWORD* bytesWritten) {
    const std::size_t index = writeSizes.size();
    calls.push_back("write " + std::to_string(bytesToWrite));
    writeSizes.push_back(bytesToWrite);
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        return FT_INVALID_HANDLE;
    }
    const WriteResult result = writeResult ? writeResult(index) : WriteResult{};
    if (result.status != FT_OK) {
        *bytesWritten = 0;
        return result.status;
    }
    const DWORD accepted =
        result.accepted < 0
            ? bytesToWrite
            : static_cast<DWORD>(std::min<std::int64_t>(result.accepted, bytesToWrite));
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    if (keepBytes) {
        bytes.insert(bytes.end(), data, data + accepted);
    }
    byteCount += accepted;
    nonZeroBytes += countNonZero(data, accepted);
    *bytesWritten = accepted;
    if (afterWrite) {
        afterWrite(index);
    }
    return FT_OK;
}

FT_STATUS FakeDriver::close(FT_HANDLE handle) {
    calls.push_back("close");
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        return FT_INVALID_HANDLE;
    }
    handleOpen = false;
    return FT_OK;
}

}  // namespace iqfeeder::testing
