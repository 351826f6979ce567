#include "device/MakerLibraryDriver.h"

#include <cstring>
#include <ostream>
#include <string>

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

const char* makerLibraryName() {
#if defined(_WIN32)
    return "ftd2xx.dll";
#elif defined(__APPLE__)
    return "libftd2xx.dylib";
#else
    return "libftd2xx.so";
#endif
}

std::unique_ptr<MakerLibraryDriver> MakerLibraryDriver::load(std::ostream& diagnostics,
                                                             const char* libraryName) {
    std::unique_ptr<MakerLibraryDriver> driver(new MakerLibraryDriver(libraryName));
    const DynamicLibrary& library = driver->library_;
    if (!library.isLoaded()) {
        if (!library.failure().empty()) {
            // One insertion, so the line is never split between two writes.
            diagnostics << std::string("iqfeeder: ") + libraryName + ": " + library.failure() +
                               "\n";
        }
        return nullptr;
    }
    const char* missing = nullptr;
    const auto find = [&](const char* call) {
        void* address = library.symbol(call);
        if (address == nullptr && missing == nullptr) {
            missing = call;
        }
        return address;
    };
    // Function pointers from a symbol address: the platform loaders guarantee this works.
    Ftd2xxCalls calls;
    calls.listDevices = reinterpret_cast<FT_ListDevicesFn>(find("FT_ListDevices"));
    calls.open = reinterpret_cast<FT_OpenFn>(find("FT_Open"));
    calls.write = reinterpret_cast<FT_WriteFn>(find("FT_Write"));
    calls.close = reinterpret_cast<FT_CloseFn>(find("FT_Close"));
    if (missing != nullptr) {
        diagnostics << std::string("iqfeeder: ") + libraryName + " lacks " + missing + "\n";
        return nullptr;
    }
    calls.setTimeouts = reinterpret_cast<FT_SetTimeoutsFn>(library.symbol("FT_SetTimeouts"));
    driver->adapter_.emplace(calls);
    return driver;
}

DriverTable Ftd2xxAdapter::table() {
    DriverTable table;
    table.context = this;
    table.list = [](void* context, bool withSerials, std::vector<ListedDevice>& devices) {
        return static_cast<const Ftd2xxAdapter*>(context)->list(withSerials, devices);
    };
    table.open = [](void* context, int index, const OpenSettings& settings, DeviceHandle* handle) {
        auto* self = static_cast<Ftd2xxAdapter*>(context);
        self->reports_.clear();
        return self->open(index, settings, handle);
    };
    table.submit = [](void* context, DeviceHandle handle, const SliceToSend& slice) {
        static_cast<Ftd2xxAdapter*>(context)->submit(handle, slice);
    };
    table.status = [](void* context, DeviceHandle, std::vector<SliceReport>& reports) {
        auto* self = static_cast<Ftd2xxAdapter*>(context);
        reports.insert(reports.end(), self->reports_.begin(), self->reports_.end());
        self->reports_.clear();
    };
    table.close = [](void* context, DeviceHandle handle, std::vector<SliceReport>& reports) {
        auto* self = static_cast<Ftd2xxAdapter*>(context);
        reports.insert(reports.end(), self->reports_.begin(), self->reports_.end());
        self->reports_.clear();
        // Nothing is on its way once FT_Write has returned.
        return self->calls_.close(handle) == FT_OK;
    };
    return table;
}

bool Ftd2xxAdapter::open(int index, const OpenSettings& settings, DeviceHandle* handle) const {
    if (calls_.open(index, handle) != FT_OK) {
        return false;
    }
    // Asked for by unattended runs only: a plain run makes the four calls and no other.
    if (settings.writeTimeoutMs > 0 && calls_.setTimeouts != nullptr) {
        (void)calls_.setTimeouts(*handle, settings.writeTimeoutMs, settings.writeTimeoutMs);
    }
    return true;
}

// The count first, to give the listing a buffer per device; serial numbers by index, before
// any open (asked of an open device, the library may wait on the device for ever).
bool Ftd2xxAdapter::list(bool withSerials, std::vector<ListedDevice>& devices) const {
    devices.clear();
    DWORD count = 0;
    FT_STATUS status = calls_.listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (status != FT_OK || count == 0 || count > kMostDevices) {
        return false;
    }
    const std::uint32_t slots = count + kSpareDescriptions;
    std::vector<char> descriptions(static_cast<std::size_t>(slots) * kDescriptionBytes, '\0');
    std::vector<char*> pointers(static_cast<std::size_t>(slots) + 1, nullptr);
    for (std::uint32_t i = 0; i < slots; ++i) {
        pointers[i] = descriptions.data() + static_cast<std::size_t>(i) * kDescriptionBytes;
    }
    count = 0;
    status = calls_.listDevices(pointers.data(), &count, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION);
    if (status != FT_OK || count == 0) {
        return false;
    }
    for (std::uint32_t i = 0; i < count && i < slots; ++i) {
        ListedDevice device;
        device.description = boundedText(pointers[i]);
        if (withSerials) {
            char serial[kDescriptionBytes] = {};
            // In this mode the index comes in place of the first pointer.
            // NOLINTNEXTLINE(performance-no-int-to-ptr): that is the interface, not an address
            void* index = reinterpret_cast<void*>(static_cast<std::uintptr_t>(i));
            if (calls_.listDevices(index, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) ==
                FT_OK) {
                device.serial = boundedText(serial);
            }
        }
        devices.push_back(std::move(device));
    }
    return true;
}

void Ftd2xxAdapter::submit(DeviceHandle handle, const SliceToSend& slice) {
    DWORD written = 0;
    // D2XX takes a non-const pointer, yet only reads the slice.
    const FT_STATUS status =
        calls_.write(handle, const_cast<std::uint8_t*>(slice.bytes), slice.size, &written);
    SliceReport report{slice.id, SliceFate::Taken, slice.size};
    if (status == FT_OK && written < slice.size) {
        report.fate = SliceFate::Short;  // the write time-out ran out
        report.taken = written;
    } else if (status != FT_OK) {
        // The two results an unplugged chip gives; any other is a plain failure.
        report.fate = status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND ? SliceFate::Gone
                                                                             : SliceFate::Failed;
        report.taken = 0;
    }
    reports_.push_back(report);
}

}  // namespace iqfeeder
