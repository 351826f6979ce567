// An in-process test double of the four driver calls: scripted results, and a record of every
// call and of every byte the device accepted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/Ftd2xx.h"

namespace iqfeeder::testing {

struct WriteResult {
    FT_STATUS status = FT_OK;
    // Bytes the device accepts of the slice; -1 means all of them.
    std::int64_t accepted = -1;
};

class FakeDriver {
  public:
    // Listing.
    FT_STATUS countStatus = FT_OK;
    FT_STATUS listStatus = FT_OK;
    std::vector<std::string> descriptions{"USB <-> Serial"};
    // Serial numbers by index, for the listing by index; a device past its end has none.
    std::vector<std::string> serials{"A0000001"};
    // The count the listing reports when it is not the number of descriptions.
    std::optional<DWORD> reportedCount;
    // Open.
    FT_STATUS openStatus = FT_OK;
    // Decides each write by its 0-based index over the run; every write succeeds by default.
    std::function<WriteResult(std::size_t writeIndex)> writeResult;
    // Runs after each accepted write, e.g. to let a simulated producer append to the input.
    std::function<void(std::size_t writeIndex)> afterWrite;
    // Keep the accepted bytes (off for runs that send hundreds of megabytes).
    bool keepBytes = true;

    // What happened.
    std::vector<std::string> calls;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> writeSizes;
    std::uint64_t byteCount = 0;
    std::uint64_t nonZeroBytes = 0;
    bool handleOpen = false;
    bool usedBadHandle = false;
    std::size_t listBuffersOffered = 0;

    DriverTable table();

  private:
    FT_STATUS list(void* arg1, void* arg2, DWORD flags);
    FT_STATUS open(int deviceIndex, FT_HANDLE* handle);
    FT_STATUS write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
    FT_STATUS close(FT_HANDLE handle);

    int handleToken_ = 0;
};

}  // namespace iqfeeder::testing
