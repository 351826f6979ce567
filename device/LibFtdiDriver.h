// The four calls on libftdi1, for Linux operators without the maker's library. Each listing
// and each open works on its own libftdi1 context; an open device's handle is its context.
#pragma once

#include <cstdint>

#include "device/Ftd2xx.h"

namespace iqfeeder {

class LibFtdiDriver {
  public:
    // Bytes per bulk transfer: above the largest slice (12800), so every slice goes out as one
    // transfer instead of libftdi1's default 4096-byte pieces, with no gap between pieces while
    // the host turns each one round (about 2.5 times faster per buffer under emulation). The
    // cost: libftdi1's 5000 ms write time-out then covers a whole slice, not 4096 bytes of it.
    static constexpr std::uint32_t kDefaultWriteChunkBytes = 65536;

    explicit LibFtdiDriver(std::uint32_t writeChunkBytes = kDefaultWriteChunkBytes)
        : writeChunkBytes_(writeChunkBytes) {}

    DriverTable table();

  private:
    static FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
    FT_STATUS open(int deviceIndex, FT_HANDLE* handle) const;
    static FT_STATUS write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
    static FT_STATUS close(FT_HANDLE handle);

    std::uint32_t writeChunkBytes_;
};

}  // namespace iqfeeder
