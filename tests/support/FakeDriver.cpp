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
    table.open = [](void* self, int index, const OpenSettings& settings, DeviceHandle* handle) {
        return static_cast<FakeDriver*>(self)->open(index, settings, handle);
    };
    table.submit = [](void* self, DeviceHandle handle, const SliceToSend& slice) {
        static_cast<FakeDriver*>(self)->submit(handle, slice);
    };
    table.status = [](void* self, DeviceHandle, std::vector<SliceReport>& reports) {
        auto* driver = static_cast<FakeDriver*>(self);
        reports.insert(reports.end(), driver->reports_.begin(), driver->reports_.end());
        driver->reports_.clear();
    };
    table.close = [](void* self, DeviceHandle handle, std::vector<SliceReport>& reports) {
        return static_cast<FakeDriver*>(self)->close(handle, reports);
    };
    return table;
}

bool FakeDriver::list(bool withSerials, std::vector<ListedDevice>& devices) {
    calls.push_back(withSerials ? "list with serials" : "list");
    serialsAskedWhileOpen = serialsAskedWhileOpen || (withSerials && handleOpen);
    devices.clear();
    if (listFails || unplugged || descriptions.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        devices.push_back({descriptions[i], withSerials && i < serials.size() ? serials[i] : ""});
    }
    return true;
}

bool FakeDriver::open(int deviceIndex, const OpenSettings& settings, DeviceHandle* handle) {
    calls.push_back("open " + std::to_string(deviceIndex));
    opens.push_back(settings);
    if (openFails || unplugged) {
        return false;
    }
    *handle = &handleToken_;
    handleOpen = true;
    queue_.clear();
    reports_.clear();
    return true;
}

void FakeDriver::record(const std::uint8_t* data, std::uint32_t size) {
    if (keepBytes) {
        bytes.insert(bytes.end(), data, data + size);
    }
    byteCount += size;
    nonZeroBytes += countNonZero(data, size);
}

// The chip is done with the oldest slice on its way: the bytes it took, and the report.
void FakeDriver::complete(const Queued& done) {
    const SliceToSend& slice = done.slice;
    if (keepBytes && !std::equal(done.copy.begin(), done.copy.end(), slice.bytes)) {
        bytesChangedInFlight = true;
    }
    const WriteResult& result = done.result;
    if (result.fate != SliceFate::Taken && result.fate != SliceFate::Short) {
        reports_.push_back({slice.id, result.fate, 0});
        return;
    }
    std::uint32_t taken = slice.size;
    if (result.accepted >= 0) {
        taken = static_cast<std::uint32_t>(std::min<std::int64_t>(result.accepted, slice.size));
    } else if (slice.size > result.shortBy) {
        taken = slice.size - result.shortBy;
    }
    record(slice.bytes, taken);
    reports_.push_back(
        {slice.id, taken == slice.size ? SliceFate::Taken : SliceFate::Short, taken});
}

void FakeDriver::loseInFlight() {
    for (const Queued& lost : queue_) {
        if (inFlightArrives && lost.result.fate == SliceFate::Taken) {
            record(lost.slice.bytes, lost.slice.size);
        }
        reports_.push_back({lost.slice.id, SliceFate::Gone, 0});
    }
    queue_.clear();
}

void FakeDriver::submit(DeviceHandle handle, const SliceToSend& slice) {
    const std::size_t index = writeSizes.size();
    calls.push_back("write " + std::to_string(slice.size));
    writeSizes.push_back(slice.size);
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        reports_.push_back({slice.id, SliceFate::Failed, 0});
        return;
    }
    const WriteResult result = writeResult ? writeResult(index) : WriteResult{};
    if (unplugged) {
        loseInFlight();
        reports_.push_back({slice.id, SliceFate::Gone, 0});
        return;
    }
    Queued queued{slice, {}, result};
    if (keepBytes && confirmLag > 0) {
        queued.copy.assign(slice.bytes, slice.bytes + slice.size);
    }
    if (confirmLag == 0) {
        complete(queued);
    } else {
        if (queue_.size() >= confirmLag) {
            complete(queue_.front());
            queue_.pop_front();
        }
        queue_.push_back(std::move(queued));
    }
    if (afterWrite && result.fate == SliceFate::Taken) {
        afterWrite(index);
    }
}

bool FakeDriver::close(DeviceHandle handle, std::vector<SliceReport>& reports) {
    calls.push_back("close");
    if (!handleOpen || handle != &handleToken_) {
        usedBadHandle = true;
        return false;
    }
    handleOpen = false;
    if (unplugged) {
        loseInFlight();
    }
    for (; !queue_.empty(); queue_.pop_front()) {
        complete(queue_.front());
    }
    reports.insert(reports.end(), reports_.begin(), reports_.end());
    reports_.clear();
    return true;
}

}  // namespace iqfeeder::testing
