// The maker's D2XX library, loaded at run time, and the adapter that speaks D2XX for the driver
// table: the only code that knows FT_STATUS and FT_ListDevices' flags. A library that lacks any of
// the four calls counts as absent; so does one that is there but does not load, and for both a line
// to the diagnostics stream says why.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>

#include "common/DynamicLibrary.h"
#include "device/DriverTable.h"
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
using FT_SetTimeoutsFn = FT_STATUS(IQFEEDER_FTAPI*)(FT_HANDLE handle, DWORD readTimeout,
                                                    DWORD writeTimeout);
}

// The four D2XX calls, wherever they come from, and FT_SetTimeouts where the library has it.
struct Ftd2xxCalls {
    FT_ListDevicesFn listDevices = nullptr;
    FT_OpenFn open = nullptr;
    FT_WriteFn write = nullptr;
    FT_CloseFn close = nullptr;
    FT_SetTimeoutsFn setTimeouts = nullptr;  // optional
};

// The driver table over D2XX calls. FT_Write returns only once the chip has the slice (or the
// library gave up on it), so each slice's fate is known when the submit returns. The slice is
// written from where it lies: no copy.
class Ftd2xxAdapter {
  public:
    explicit Ftd2xxAdapter(const Ftd2xxCalls& calls) : calls_(calls) {}
    DriverTable table();

  private:
    bool list(bool withSerials, std::vector<ListedDevice>& devices) const;
    bool open(int index, const OpenSettings& settings, DeviceHandle* handle) const;
    void submit(DeviceHandle handle, const SliceToSend& slice);

    Ftd2xxCalls calls_;
    std::vector<SliceReport> reports_;  // not yet asked for
};

// The library's file name on this platform.
const char* makerLibraryName();

class MakerLibraryDriver {
  public:
    // Null when the library can't be loaded or lacks one of the four calls; unless it is simply
    // not installed, one line on `diagnostics` then names the file and the reason.
    static std::unique_ptr<MakerLibraryDriver> load(std::ostream& diagnostics,
                                                    const char* libraryName = makerLibraryName());

    DriverTable table() { return adapter_->table(); }

  private:
    explicit MakerLibraryDriver(const char* libraryName) : library_(libraryName) {}

    DynamicLibrary library_;
    std::optional<Ftd2xxAdapter> adapter_;
};

}  // namespace iqfeeder
