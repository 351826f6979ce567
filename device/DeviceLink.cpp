#include "device/DeviceLink.h"

#include <cstring>

#include "common/ConsoleLines.h"

namespace iqfeeder {
namespace {

// Room for devices plugged in between counting and listing.
constexpr std::uint32_t kSpareDescriptions = 4;
// More than USB can attach to one machine: a count beyond it is garbage, and making room for it
// could wrap the slot count or exhaust memory.
constexpr std::uint32_t kMostDevices = 4096;

// The library's text need not be terminated within its 64 bytes; never read past them.
std::string boundedText(const char* text) {
    return {text, strnlen(text, kDescriptionBytes)};
}

}  // namespace

DWORD DeviceLink::countDevices() {
    DWORD count = 0;
    if (driver_.listDevices(driver_.context, &count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK ||
        count > kMostDevices) {
        return 0;
    }
    return count;
}

void DeviceLink::sayNoDevices() {
    console_.print("%s", lines::kNoDevices);
    console_.print("%s", lines::kPleaseExit);
}

void DeviceLink::listDevices() {
    DWORD count = countDevices();
    if (count > 0) {
        const std::uint32_t slots = count + kSpareDescriptions;
        std::vector<char> descriptions(static_cast<std::size_t>(slots) * kDescriptionBytes, '\0');
        std::vector<char*> pointers(static_cast<std::size_t>(slots) + 1, nullptr);
        for (std::uint32_t i = 0; i < slots; ++i) {
            pointers[i] = descriptions.data() + static_cast<std::size_t>(i) * kDescriptionBytes;
        }
        count = 0;
        const FT_STATUS status = driver_.listDevices(driver_.context, pointers.data(), &count,
                                                     FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION);
        if (status == FT_OK && count > 0) {
            listed_ = true;
            for (std::uint32_t i = 0; i < count && i < slots; ++i) {
                descriptions_.push_back(boundedText(pointers[i]));
            }
            console_.print("%s", lines::kDevicesConnected);
            console_.print(lines::kFirstDevice, descriptions_[0].c_str());
            if (count > 1) {
                console_.print(lines::kSecondDevice, descriptions_[1].c_str());
            }
            console_.print("%s", lines::kDevicesEnd);
            return;
        }
    }
    sayNoDevices();
}

std::string DeviceLink::describeByIndex(std::uint32_t index, DWORD what) {
    char text[kDescriptionBytes] = {};
    // The listing call takes the index in place of a pointer, as the D2XX interface defines.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): that is the interface, not a real address
    void* indexArgument = reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
    if (driver_.listDevices(driver_.context, indexArgument, text, FT_LIST_BY_INDEX | what) !=
        FT_OK) {
        return {};
    }
    return boundedText(text);
}

int DeviceLink::findSerial(const std::string& serial) {
    std::string attached;
    for (std::uint32_t i = 0; i < descriptions_.size(); ++i) {
        const std::string candidate = describeByIndex(i, FT_OPEN_BY_SERIAL_NUMBER);
        if (candidate == serial) {
            return static_cast<int>(i);
        }
        attached += (attached.empty() ? "\"" : ", \"") + candidate + "\"";
    }
    diagnostics_.print(
        "iqfeeder: no attached device has the serial number \"%s\"; %s\n", serial.c_str(),
        attached.empty() ? "no device is attached" : ("attached: " + attached).c_str());
    return -1;
}

void DeviceLink::openDevice(const DeviceChoice& choice) {
    const int index = choice.serial.empty() ? choice.index : findSerial(choice.serial);
    if (listed_ && index > 0) {
        const auto listedAt = static_cast<std::size_t>(index);
        if (listedAt < descriptions_.size()) {
            console_.print("Using device %i: %s\n", index, descriptions_[listedAt].c_str());
        } else {
            console_.print("Using device %i\n", index);
        }
    }
    // Some drivers crash inside their open when the listing failed; don't ask them to open.
    if (listed_ && index >= 0 && open(index)) {
        return;
    }
    console_.print("%s", lines::kCantOpenDevice);
    if (reconnecting_) {
        // Looked for by what the operator asked for: the serial, or the index.
        openedIndex_ = choice.serial.empty() ? choice.index : 0;
        openedSerial_ = choice.serial;
        lost_ = true;
        console_.print("Waiting for the FTDI device.....\n");
    }
}

bool DeviceLink::open(int index) {
    if (driver_.open(driver_.context, index, &deviceHandle_) != FT_OK) {
        deviceHandle_ = nullptr;
        return false;
    }
    open_ = true;
    everOpen_ = true;
    if (reconnecting_) {
        openedIndex_ = index;
        openedSerial_ =
            describeByIndex(static_cast<std::uint32_t>(index), FT_OPEN_BY_SERIAL_NUMBER);
    }
    return true;
}

void DeviceLink::loseDevice() {
    driver_.close(driver_.context, deviceHandle_);
    open_ = false;
    deviceHandle_ = nullptr;
    lost_ = true;
    console_.print("FTDI device lost, looking for it.....\n");
}

bool DeviceLink::reconnect() {
    const DWORD count = countDevices();
    if (count == 0) {
        return false;
    }
    int index = openedIndex_;
    if (!openedSerial_.empty()) {
        index = -1;
        for (std::uint32_t i = 0; i < count && index < 0; ++i) {
            if (describeByIndex(i, FT_OPEN_BY_SERIAL_NUMBER) == openedSerial_) {
                index = static_cast<int>(i);
            }
        }
    }
    const bool wasOpen = everOpen_;
    if (index < 0 || static_cast<std::uint32_t>(index) >= count || !open(index)) {
        return false;
    }
    lost_ = false;
    ++counters_.reconnects;
    console_.print(wasOpen ? "FTDI device back, streaming on.\n"
                           : "FTDI device found, streaming.\n");
    return true;
}

std::uint32_t DeviceLink::printDeviceTable() {
    const DWORD count = countDevices();
    if (count == 0) {
        sayNoDevices();
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string serial = describeByIndex(i, FT_OPEN_BY_SERIAL_NUMBER);
        const std::string description = describeByIndex(i, FT_OPEN_BY_DESCRIPTION);
        console_.print("%u: serial \"%s\", description \"%s\"\n", static_cast<unsigned>(i),
                       serial.c_str(), description.c_str());
    }
    return count;
}

SendResult DeviceLink::sendBuffer(std::uint8_t* buffer, std::uint32_t bufferSize) {
    SendResult result;
    if (stopping()) {
        return result;
    }
    if (lost_) {
        result.failed = true;
        result.lost = true;
        return result;  // said once, when it was lost
    }
    if (!open_) {
        ++counters_.failedWrites;
        console_.print("%s", lines::kWriteFailed);
        result.failed = true;
        return result;
    }
    const std::uint32_t chunkSize = bufferSize / 5;
    if (chunkSize == 0) {
        return result;
    }
    for (std::uint32_t offset = 0; offset <= bufferSize - chunkSize; offset += chunkSize) {
        result.offered = offset;
        // A stop asked for while the last slice was on its way: nothing more goes out.
        if (offset > 0 && stopping()) {
            return result;
        }
        DWORD written = 0;
        const FT_STATUS status =
            driver_.write(driver_.context, deviceHandle_, buffer + offset, chunkSize, &written);
        if (status != FT_OK) {
            ++counters_.failedWrites;
            result.failed = true;
            if (reconnecting_ && (status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND)) {
                result.lost = true;
                loseDevice();
            } else {
                console_.print("%s", lines::kWriteFailed);
            }
            return result;
        }
        counters_.bytesAccepted += written < chunkSize ? written : chunkSize;
        if (written != chunkSize) {
            ++counters_.shortWrites;
            console_.print("%s", lines::kWriteTimedOut);
        }
    }
    result.offered = bufferSize;
    return result;
}

void DeviceLink::closeDevice() {
    if (open_) {
        driver_.close(driver_.context, deviceHandle_);
        open_ = false;
        deviceHandle_ = nullptr;
    }
}

}  // namespace iqfeeder
