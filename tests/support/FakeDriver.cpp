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
    table.list = [](void* self, bool withSerials, std::vector<ListedDevice>& devices) {
        return static_cast<FakeDriver*>(self)->list(withSerials, devices);
    };
    table.open = [](void* self, int index, FT_HANDLE* handle) {
        return static_cast<FakeDriver*>(self)->open(index, handle);
    };
    table.write = [](void* self, FT_HANDLE handle, const std::uint8_t* data, std::uint32_t size,
                     WriteReport& report) {
        return static_cast<FakeDriver*>(self)->write(handle, data, size, report);
    };
    table.close = [](void* self, FT_HANDLE handle, std::uint64_t& confirmed) {
        return static_cast<FakeDriver*>(self)->close(handle, confirmed);
    };
    return table;
}

FT_STATUS FakeDriver::list(bool withSerials, std::vector<ListedDevice>& devices) {
    calls.push_back(withSerials ? "list with serials" : "list");
    serialsAskedWhileOpen = serialsAskedWhileOpen || (withSerials && handleOpen);
    devices.clear();
    if (listStatus != FT_OK || unplugged || descriptions.empty()) {
        return listStatus != FT_OK ? listStatus : FT_DEVICE_NOT_FOUND;
    }
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        devices.push_back({descriptions[i], withSerials && i < serials.size() ? serials[i] : ""});
    }
    return FT_OK;
}

FT_STATUS FakeDriver::open(int deviceIndex, FT_HANDLE* handle) {
    calls.push_back("open " + std::to_string(deviceIndex));
    if (openStatus != FT_OK || unplugged) {
        return openStatus != FT_OK ? openStatus : FT_DEVICE_NOT_OPENED;
    }
    *handle = &handleToken_;
    handleOpen = true;
    queue_.clear();
    confirmed_ = 0;
    failure_.reset();
    heldBack_ = 0;
    return FT_OK;
}

void FakeDriver::record(const std::uint8_t* data, std::uint32_t size, const WriteResult& result) {
    const std::uint32_t accepted =
        result.accepted < 0
            ? size
            : static_cast<std::uint32_t>(std::min<std::int64_t>(result.accepted, size));
    if (keepBytes) {
        bytes.insert(bytes.end(), data, data + accepted);
    }
    byteCount += accepted;
    nonZeroBytes += countNonZero(data, accepted);
}

void FakeDriver::completeOldest() {
    const Queued done = std::move(queue_.front());
    queue_.pop_front();
    const auto size = static_cast<std::uint32_t>(done.bytes.size());
    if (done.result.status == FT_OK) {
        record(done.bytes.data(), size, done.result);
    }
    if (failure_) {
        heldBack_ += size;
    } else if (done.result.status != FT_OK) {
        failure_ = done.result.status;
        failedAt_ = confirmed_;
        heldBack_ = size;
    } else {
        confirmed_ += size;
    }
}

void FakeDriver::loseInFlight() {
    for (const Queued& arrived : queue_) {
        if (inFlightArrives && arrived.result.status == FT_OK) {
            record(arrived.bytes.data(), static_cast<std::uint32_t>(arrived.bytes.size()),
                   arrived.result);
        }
    }
    queue_.clear();
    failure_.reset();
}

std::optional<FT_STATUS> FakeDriver::takeFailure(std::uint64_t& confirmed) {
    if (!failure_) {
        return std::nullopt;
    }
    const FT_STATUS status = *failure_;
    failure_.reset();
    confirmed = failedAt_;
    confirmed_ += heldBack_;
    heldBack_ = 0;
    // What is still on its way was covered by this report.
    for (const Queued& covered : queue_) {
        if (covered.result.status == FT_OK) {
            record(covered.bytes.data(), static_cast<std::uint32_t>(covered.bytes.size()),
                   covered.result);
        }
        confirmed_ += covered.bytes.size();
    }
    queue_.clear();
    return status;
}

FT_STATUS FakeDriver::write(FT_HANDLE handle, const std::uint8_t* data, std::uint32_t size,
                            WriteReport& report) {
    const std::size_t index = writeSizes.size();
    calls.push_back("write " + std::to_string(size));
    writeSizes.push_back(size);
    report = {};
    report.confirmed = confirmed_;
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        return FT_INVALID_HANDLE;
    }
    const WriteResult result = writeResult ? writeResult(index) : WriteResult{};
    if (unplugged) {
        loseInFlight();
        return FT_IO_ERROR;
    }
    if (confirmLag == 0) {
        if (result.status != FT_OK) {
            return result.status;
        }
        record(data, size, result);
        confirmed_ += size;
        report.taken =
            result.accepted < 0
                ? size
                : static_cast<std::uint32_t>(std::min<std::int64_t>(result.accepted, size));
    } else {
        if (queue_.size() >= confirmLag) {
            completeOldest();
        }
        if (const std::optional<FT_STATUS> failure = takeFailure(report.confirmed)) {
            return *failure;
        }
        queue_.push_back({std::vector<std::uint8_t>(data, data + size), result});
        report.taken = size;
    }
    report.confirmed = confirmed_;
    if (afterWrite) {
        afterWrite(index);
    }
    return FT_OK;
}

FT_STATUS FakeDriver::close(FT_HANDLE handle, std::uint64_t& confirmed) {
    calls.push_back("close");
    confirmed = confirmed_;
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        return FT_INVALID_HANDLE;
    }
    handleOpen = false;
    if (unplugged) {
        const bool lostSome = !queue_.empty() || failure_;
        if (failure_) {
            confirmed = failedAt_;
        }
        loseInFlight();
        return lostSome ? FT_IO_ERROR : FT_OK;
    }
    while (!queue_.empty()) {
        completeOldest();
    }
    const std::optional<FT_STATUS> failure = takeFailure(confirmed);
    if (!failure) {
        confirmed = confirmed_;
    }
    return failure.value_or(FT_OK);
}

}  // namespace iqfeeder::testing
