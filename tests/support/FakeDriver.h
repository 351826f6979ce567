// An in-process test double of the driver operations: scripted results, and a record of every
// call and of every byte the device confirmed. It can confirm late, as a driver that keeps
// transfers in flight does.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/DriverTable.h"

namespace iqfeeder::testing {

struct WriteResult {
    FT_STATUS status = FT_OK;
    // Bytes the device accepts of the slice; -1 means all of them.
    std::int64_t accepted = -1;
};

class FakeDriver {
  public:
    // Listing.
    FT_STATUS listStatus = FT_OK;
    std::vector<std::string> descriptions{"USB <-> Serial"};
    // Serial numbers by index; a device past its end has none.
    std::vector<std::string> serials{"A0000001"};
    // Open.
    FT_STATUS openStatus = FT_OK;
    // Decides each write by its 0-based index over the run; every write succeeds by default.
    // With confirmations late, a failure is told when the slice would have been confirmed.
    std::function<WriteResult(std::size_t writeIndex)> writeResult;
    // Runs after each accepted write, e.g. to let a simulated producer append to the input.
    std::function<void(std::size_t writeIndex)> afterWrite;
    // Slices on their way before the chip confirms one: 0 confirms each write at once.
    std::size_t confirmLag = 0;
    // Gone: the listing finds nothing, the open fails, and every write fails, as do the slices
    // still on their way.
    bool unplugged = false;
    // Whether the chip got those slices all the same, only unconfirmed (so they may arrive
    // twice), or never.
    bool inFlightArrives = false;
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
    bool serialsAskedWhileOpen = false;

    DriverTable table();

  private:
    struct Queued {
        std::vector<std::uint8_t> bytes;
        WriteResult result;
    };

    FT_STATUS list(bool withSerials, std::vector<ListedDevice>& devices);
    FT_STATUS open(int deviceIndex, FT_HANDLE* handle);
    FT_STATUS write(FT_HANDLE handle, const std::uint8_t* data, std::uint32_t size,
                    WriteReport& report);
    FT_STATUS close(FT_HANDLE handle, std::uint64_t& confirmed);
    void record(const std::uint8_t* data, std::uint32_t size, const WriteResult& result);
    void completeOldest();
    void loseInFlight();
    // The failure a completion found, told once; the transfers behind it count as done.
    std::optional<FT_STATUS> takeFailure(std::uint64_t& confirmed);

    int handleToken_ = 0;
    std::deque<Queued> queue_;
    std::uint64_t confirmed_ = 0;
    std::optional<FT_STATUS> failure_;
    std::uint64_t failedAt_ = 0;
    std::uint64_t heldBack_ = 0;
};

}  // namespace iqfeeder::testing
