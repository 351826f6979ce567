// The driver operations the device link is written against, in this program's own terms: list
// the attached devices, open one by index, hand it a slice, close it. Each driver (the maker's
// library, libftdi1, a test double) fills the table with its context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Ftd2xx.h"

namespace iqfeeder {

struct ListedDevice {
    std::string description;
    std::string serial;  // empty when not asked for, or when the chip has none
};

// What a driver says of a slice it was handed.
struct WriteReport {
    // Bytes of the slice the driver took; fewer than asked is a short write.
    std::uint32_t taken = 0;
    // Of all bytes handed over in successful writes since the open, how many the driver is done
    // with: the chip has them, or the transfer carrying them came back short and was reported
    // so. The rest may still be lost with the device.
    std::uint64_t confirmed = 0;
};

struct DriverTable {
    void* context = nullptr;
    // The attached devices in index order, serial numbers read only when asked for (and never
    // of an open device). FT_OK only with at least one device.
    FT_STATUS(*list)
    (void* context, bool withSerials, std::vector<ListedDevice>& devices) = nullptr;
    FT_STATUS (*open)(void* context, int index, FT_HANDLE* handle) = nullptr;
    // A failure may be one of an earlier slice still on its way, reported now; the slice handed
    // in this call then did not go.
    FT_STATUS(*write)
    (void* context, FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
     WriteReport& report) = nullptr;
    // Waits for what is still on its way (at most the write time-out), then closes. `confirmed`
    // as for a write.
    FT_STATUS (*close)(void* context, FT_HANDLE handle, std::uint64_t& confirmed) = nullptr;
};

}  // namespace iqfeeder
