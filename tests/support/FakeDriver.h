// An in-process test double of the driver operations: scripted results, and a record of every
// call and of every byte the device took. It can report late, as a driver that keeps transfers
// in flight does.
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
    SliceFate fate = SliceFate::Taken;
    // Bytes the device takes of the slice; -1 means all of them (less than all: a short write).
    std::int64_t accepted = -1;
    // Bytes fewer than asked that it takes of any write larger than that.
    std::uint32_t shortBy = 0;
};

class FakeDriver {
  public:
    // Listing.
    bool listFails = false;
    std::vector<std::string> descriptions{"USB <-> Serial"};
    // Serial numbers by index; a device past its end has none.
    std::vector<std::string> serials{"A0000001"};
    // Open.
    bool openFails = false;
    // Decides each write by its 0-based index over the run; every write succeeds by default.
    // With reports late, a failure is told when the slice would have been done.
    std::function<WriteResult(std::size_t writeIndex)> writeResult;
    // Runs after each accepted write, e.g. to let a simulated producer append to the input.
    std::function<void(std::size_t writeIndex)> afterWrite;
    // Slices on their way before the chip is done with one: 0 reports each at once.
    std::size_t confirmLag = 0;
    // Gone: the listing finds nothing, the open fails, and every slice is reported gone, as
    // are the slices still on their way.
    bool unplugged = false;
    // Whether the chip got those slices all the same, only unreported (so they may arrive
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
    std::vector<OpenSettings> opens;
    bool handleOpen = false;
    bool usedBadHandle = false;
    bool serialsAskedWhileOpen = false;
    // A slice's bytes changed between its hand-over and its report: the caller reused them.
    bool bytesChangedInFlight = false;

    DriverTable table();

  private:
    struct Queued {
        SliceToSend slice;
        std::vector<std::uint8_t> copy;  // what it held when handed over
        WriteResult result;
    };

    bool list(bool withSerials, std::vector<ListedDevice>& devices);
    bool open(int deviceIndex, const OpenSettings& settings, DeviceHandle* handle);
    void submit(DeviceHandle handle, const SliceToSend& slice);
    bool close(DeviceHandle handle, std::vector<SliceReport>& reports);
    void complete(const Queued& done);
    void loseInFlight();
    void record(const std::uint8_t* data, std::uint32_t size);

    int handleToken_ = 0;
    std::deque<Queued> queue_;
    std::vector<SliceReport> reports_;
};

}  // namespace iqfeeder::testing
