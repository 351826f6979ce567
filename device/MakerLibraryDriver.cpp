#include "device/MakerLibraryDriver.h"

#include <ostream>
#include <string>

namespace iqfeeder {

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
    driver->listDevices_ = reinterpret_cast<FT_ListDevicesFn>(find("FT_ListDevices"));
    driver->open_ = reinterpret_cast<FT_OpenFn>(find("FT_Open"));
    driver->write_ = reinterpret_cast<FT_WriteFn>(find("FT_Write"));
    driver->close_ = reinterpret_cast<FT_CloseFn>(find("FT_Close"));
    if (missing != nullptr) {
        diagnostics << std::string("iqfeeder: ") + libraryName + " lacks " + missing + "\n";
        return nullptr;
    }
    return driver;
}

DriverTable MakerLibraryDriver::table() {
    DriverTable table;
    table.context = this;
    table.listDevices = [](void* context, void* arg1, void* arg2, DWORD flags) {
        return static_cast<MakerLibraryDriver*>(context)->listDevices_(arg1, arg2, flags);
    };
    table.open = [](void* context, int deviceIndex, FT_HANDLE* handle) {
        return static_cast<MakerLibraryDriver*>(context)->open_(deviceIndex, handle);
    };
    table.write = [](void* context, FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                     DWORD* bytesWritten) {
        return static_cast<MakerLibraryDriver*>(context)->write_(handle, buffer, bytesToWrite,
                                                                 bytesWritten);
    };
    table.close = [](void* context, FT_HANDLE handle) {
        return static_cast<MakerLibraryDriver*>(context)->close_(handle);
    };
    return table;
}

}  // namespace iqfeeder
