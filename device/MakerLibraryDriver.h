// The maker's D2XX library, loaded at run time. A library that lacks any of the four calls
// counts as absent; so does one that is there but does not load, and for both a line to the
// diagnostics stream says why.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>

#include "device/DynamicLibrary.h"
#include "device/Ftd2xx.h"

namespace iqfeeder {

#if defined(_WIN32) && !defined(_WIN64)
#define IQFEEDER_FTAPI __stdcall
#else
#define IQFEEDER_FTAPI
#endif

extern "C" {
using FT_ListDevicesFn = FT_STATUS(IQFEEDER_FTAPI*)(void* arg1, void* arg2, DWORD flags);
using FT_OpenFn = FT_STATUS(IQFEEDER_FTAPI*)(int deviceIndex, FT_HANDLE* handle);
using FT_WriteFn = FT_STATUS(IQFEEDER_FTAPI*)(FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                                              DWORD* bytesWritten);
using FT_CloseFn = FT_STATUS(IQFEEDER_FTAPI*)(FT_HANDLE handle);
}

// The library's file name on this platform.
const char* makerLibraryName();

class MakerLibraryDriver {
  public:
    // Null when the library can't be loaded or lacks one of the four calls; unless it is simply
    // not installed, one line on `diagnostics` then names the file and the reason.
    static std::unique_ptr<MakerLibraryDriver> load(std::ostream& diagnostics,
                                                    const char* libraryName = makerLibraryName());

    DriverTable table();

  private:
    explicit MakerLibraryDriver(const char* libraryName) : library_(libraryName) {}

    DynamicLibrary library_;
    FT_ListDevicesFn listDevices_ = nullptr;
    FT_OpenFn open_ = nullptr;
    FT_WriteFn write_ = nullptr;
    FT_CloseFn close_ = nullptr;
};

}  // namespace iqfeeder
