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
    driver->adapter_.emplace(calls);
    return driver;
}

DriverTable Ftd2xxAdapter::table() {
    DriverTable table;
    table.context = this;
    table.list = [](void* context, bool withSerials, std::vector<ListedDevice>& devices) {
        return static_cast<const Ftd2xxAdapter*>(context)->list(withSerials, devices);
    };
    table.open = [](void* context, int index, FT_HANDLE* handle) {
        auto* self = static_cast<Ftd2xxAdapter*>(context);
        self->confirmed_ = 0;
        return self->calls_.open(index, handle);
    };
    table.write = [](void* context, FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                     WriteReport& report) {
        return static_cast<Ftd2xxAdapter*>(context)->write(handle, bytes, size, report);
    };
    table.close = [](void* context, FT_HANDLE handle, std::uint64_t& confirmed) {
        auto* self = static_cast<Ftd2xxAdapter*>(context);
        confirmed = self->confirmed_;
        // Nothing is on its way once FT_Write has returned, and FT_Close's result never
        // changed what the run does or says.
        (void)self->calls_.close(handle);
        return FT_OK;
    };
    return table;
}

// The count first, to give the listing a buffer per device; serial numbers by index, before
// any open (asked of an open device, the library may wait on the device for ever).
FT_STATUS Ftd2xxAdapter::list(bool withSerials, std::vector<ListedDevice>& devices) const {
    devices.clear();
    DWORD count = 0;
    FT_STATUS status = calls_.listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (status != FT_OK || count == 0 || count > kMostDevices) {
        return status != FT_OK ? status : FT_DEVICE_NOT_FOUND;
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
        return status != FT_OK ? status : FT_DEVICE_NOT_FOUND;
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
    return FT_OK;
}

FT_STATUS Ftd2xxAdapter::write(FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                               WriteReport& report) {
    DWORD written = 0;
    // D2XX takes a non-const pointer, yet only reads the slice.
    const FT_STATUS status = calls_.write(handle, const_cast<std::uint8_t*>(bytes), size, &written);
    if (status == FT_OK) {
        confirmed_ += size;
        report.taken = written < size ? written : size;
    } else {
        report.taken = 0;
    }
    report.confirmed = confirmed_;
    return status;
}

}  // namespace iqfeeder
