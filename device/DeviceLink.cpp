#include "device/DeviceLink.h"

#include <cstring>
#include <vector>

namespace iqfeeder {
namespace {

// Room for devices plugged in between counting and listing.
constexpr std::uint32_t kSpareDescriptions = 4;
// More than USB can attach to one machine: a count beyond it is garbage, and making room for it
// could wrap the slot count or exhaust memory.
constexpr std::uint32_t kMostDevices = 4096;

void printDescription(Console& console, int index, const char* description) {
    // The library's text need not be terminated within its 64 bytes; never read past them.
    const auto length = static_cast<int>(strnlen(description, kDescriptionBytes));
    console.print("%i: %.*s\n", index, length, description);
}

}  // namespace

void DeviceLink::listDevices() {
    DWORD count = 0;
    FT_STATUS status = driver_.listDevices(driver_.context, &count, nullptr, FT_LIST_NUMBER_ONLY);
    if (status == FT_OK && count > 0 && count <= kMostDevices) {
        const std::uint32_t slots = count + kSpareDescriptions;
        std::vector<char> descriptions(static_cast<std::size_t>(slots) * kDescriptionBytes, '\0');
        std::vector<char*> pointers(static_cast<std::size_t>(slots) + 1, nullptr);
        for (std::uint32_t i = 0; i < slots; ++i) {
            pointers[i] = descriptions.data() + static_cast<std::size_t>(i) * kDescriptionBytes;
        }
        count = 0;
        status = driver_.listDevices(driver_.context, pointers.data(), &count,
                                     FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION);
        if (status == FT_OK && count > 0) {
            listed_ = true;
            console_.print("\nDevices connected:\n");
            printDescription(console_, 0, pointers[0]);
            if (count > 1) {
                printDescription(console_, 1, pointers[1]);
            }
            console_.print("\n");
            return;
        }
    }
    console_.print("Failed to find any FTDI devices.....!\n");
    console_.print("Please exit.............\n");
}

void DeviceLink::openFirstDevice() {
    // Some drivers crash inside their open when the listing failed; don't ask them to open.
    if (listed_ && driver_.open(driver_.context, 0, &deviceHandle_) == FT_OK) {
        open_ = true;
        return;
    }
    deviceHandle_ = nullptr;
    console_.print("Can't open FTDI Device.\n");
}

void DeviceLink::sendBuffer(std::uint8_t* buffer, std::uint32_t bufferSize) {
    if (!open_) {
        console_.print("FT_W32_WriteFile Failed\n");
        return;
    }
    const std::uint32_t chunkSize = bufferSize / 5;
    if (chunkSize == 0) {
        return;
    }
    for (std::uint32_t offset = 0; offset <= bufferSize - chunkSize; offset += chunkSize) {
        DWORD written = 0;
        if (driver_.write(driver_.context, deviceHandle_, buffer + offset, chunkSize, &written) !=
            FT_OK) {
            console_.print("FT_W32_WriteFile Failed\n");
            return;
        }
        if (written != chunkSize) {
            console_.print("FT_W32_WriteFile TimeOut\n");
        }
    }
}

void DeviceLink::closeDevice() {
    if (open_) {
        driver_.close(driver_.context, deviceHandle_);
        open_ = false;
        deviceHandle_ = nullptr;
    }
}

}  // namespace iqfeeder
