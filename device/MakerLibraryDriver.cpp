#include "device/MakerLibraryDriver.h"

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

namespace {

template <typename Function>
Function lookUp(const DynamicLibrary& library, const char* name) {
    // Function pointers from a symbol address: the platform loaders guarantee this works.
    return reinterpret_cast<Function>(library.symbol(name));
}

}  // namespace

std::unique_ptr<MakerLibraryDriver> MakerLibraryDriver::load(const char* libraryName) {
    std::unique_ptr<MakerLibraryDriver> driver(new MakerLibraryDriver(libraryName));
    if (!driver->library_.isLoaded()) {
        return nullptr;
    }
    driver->listDevices_ = lookUp<FT_ListDevicesFn>(driver->library_, "FT_ListDevices");
    driver->open_ = lookUp<FT_OpenFn>(driver->library_, "FT_Open");
    driver->write_ = lookUp<FT_WriteFn>(driver->library_, "FT_Write");
    driver->close_ = lookUp<FT_CloseFn>(driver->library_, "FT_Close");
    if (driver->listDevices_ == nullptr || driver->open_ == nullptr || driver->write_ == nullptr ||
        driver->close_ == nullptr) {
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
