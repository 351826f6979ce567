// The driver operations the device link is written against, in this program's own terms: list
// the attached devices, open one by index, hand it slices, ask what became of them, close it.
// Each driver (the maker's library, libftdi1, a test double) fills the table with its context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iqfeeder {

using DeviceHandle = void*;

struct ListedDevice {
    std::string description;
    std::string serial;  // empty when not asked for, or when the chip has none
};

// Bytes handed to a driver: they stay where they are, untouched by the caller, until the
// driver has reported what became of them.
struct SliceToSend {
    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    std::uint64_t id = 0;  // the caller's name for it, given back in its report
};

// What became of a slice handed over.
enum class SliceFate {
    Taken,       // the chip has all of it
    Short,       // the chip took `taken` bytes of it and no more
    Failed,      // it did not go, and a retry would not help
    Gone,        // it did not go: the device is no longer there
    TimedOut,    // the chip took none of it within the write time-out
    LeftBehind,  // taken back at the close, the driver could not get it back: the bytes may
                 // still be read and must never be reused
};

struct SliceReport {
    std::uint64_t id = 0;
    SliceFate fate = SliceFate::Taken;
    std::uint32_t taken = 0;  // bytes the chip took of it
};

// Settings for an open.
struct OpenSettings {
    // A write time-out the chip must keep (for unattended runs); 0: the driver's own default.
    std::uint32_t writeTimeoutMs = 0;
};

struct DriverTable {
    void* context = nullptr;
    // The attached devices in index order, serial numbers read only when asked for (and never
    // of an open device). True only with at least one device.
    bool (*list)(void* context, bool withSerials, std::vector<ListedDevice>& devices) = nullptr;
    bool (*open)(void* context, int index, const OpenSettings& settings,
                 DeviceHandle* handle) = nullptr;
    // Hands a slice over; waits only while the driver has no room for it. Its fate, and that of
    // every slice handed earlier, is told by `status` or `close`, in the order handed over.
    void (*submit)(void* context, DeviceHandle handle, const SliceToSend& slice) = nullptr;
    // Appends what became of slices since the last call, without waiting.
    void (*status)(void* context, DeviceHandle handle, std::vector<SliceReport>& reports) = nullptr;
    // Waits for what is still on its way (at most the write time-out, then a grace to take it
    // back), reports every slice not yet reported, and closes. False when the close itself
    // failed.
    bool (*close)(void* context, DeviceHandle handle, std::vector<SliceReport>& reports) = nullptr;
};

}  // namespace iqfeeder
