// Two bulk OUT transfers kept in flight on an open libftdi1 device, so the chip already holds
// the next slice while it sends the current one and never waits for the host to turn round.
// Each transfer points at its slice where the caller holds it: no copy. A submit returns once
// its slice is on its way; what became of each transfer is told by the reports, in the
// program's own terms.
#pragma once

#include <ftdi.h>
#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "device/DriverTable.h"

namespace iqfeeder {

class LibFtdiTransferQueue {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Says a line on standard error (a libusb fault the reports can't carry).
    using Say = std::function<void(const char* line)>;

    // `device` must be open, and outlive the queue. A write time-out of 0 keeps libftdi1's.
    LibFtdiTransferQueue(ftdi_context& device, Clock clock, std::uint32_t writeTimeoutMs = 0,
                         Say say = {});
    ~LibFtdiTransferQueue();
    LibFtdiTransferQueue(const LibFtdiTransferQueue&) = delete;
    LibFtdiTransferQueue& operator=(const LibFtdiTransferQueue&) = delete;
    LibFtdiTransferQueue(LibFtdiTransferQueue&&) = delete;
    LibFtdiTransferQueue& operator=(LibFtdiTransferQueue&&) = delete;

    // False when libusb could not allocate the transfers.
    bool ready() const;
    // Waits only while both transfers are on the bus: at most until the older one's write
    // time-out, when both are taken back.
    void submit(const SliceToSend& slice);
    // What libusb has given back, without waiting.
    void status(std::vector<SliceReport>& reports);
    // Waits for what is still on the bus (at most the write time-out), takes the rest back
    // (at most a grace), and reports every slice; one libusb does not give back is left to it.
    void drain(std::vector<SliceReport>& reports);

  private:
    struct TransferDeleter {
        void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
    };
    struct Slot {
        std::unique_ptr<libusb_transfer, TransferDeleter> transfer;
        std::uint64_t id = 0;        // the caller's, for the report
        std::uint64_t sequence = 0;  // order of submission, from 1
        bool busy = false;
        bool takenBack = false;  // cancelled because the chip took nothing in time
        int done = 0;            // set by libusb's callback, which may run in any event handling
    };
    using TimePoint = std::chrono::steady_clock::time_point;

    static void LIBUSB_CALL onDone(libusb_transfer* transfer);
    Slot* freeSlot();
    Slot* oldestBusy();
    void handleEventsNow();
    // libusb's event handling, asleep in its poll until `done` is set or `wait` has passed.
    bool handleEvents(TimePoint deadline, int* done);
    bool waitFor(Slot& slot, TimePoint deadline);
    // Takes back every transfer on the bus and waits, at most the grace, until libusb has
    // given them back; one it keeps is left to it, and a fresh transfer takes its place.
    void takeBackAll();
    void finishDone();
    void finish(Slot& slot);
    void sayOnce(bool& said, const char* line);

    ftdi_context& device_;
    Clock clock_;
    std::chrono::milliseconds timeout_;
    Say say_;
    std::array<Slot, 2> slots_;
    std::uint64_t submitted_ = 0;
    // Since when the oldest transfer in flight has had the bus: its time-out runs from there,
    // as it would for a write made only once the one before it was done.
    TimePoint headSince_;
    std::vector<SliceReport> reports_;
    bool saidEventError_ = false;
};

}  // namespace iqfeeder
