// Two bulk OUT transfers kept in flight on an open libftdi1 device, so the chip already holds
// the next slice while it sends the current one and never waits for the host to turn round.
// A write returns once its slice is queued; what became of a transfer is told by a later write,
// and how many of the bytes handed over the chip has confirmed, by every write.
#pragma once

#include <ftdi.h>
#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "device/Ftd2xx.h"

namespace iqfeeder {

class LibFtdiTransferQueue {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `device` must be open, and outlive the queue.
    LibFtdiTransferQueue(ftdi_context& device, Clock clock);
    ~LibFtdiTransferQueue();
    LibFtdiTransferQueue(const LibFtdiTransferQueue&) = delete;
    LibFtdiTransferQueue& operator=(const LibFtdiTransferQueue&) = delete;
    LibFtdiTransferQueue(LibFtdiTransferQueue&&) = delete;
    LibFtdiTransferQueue& operator=(LibFtdiTransferQueue&&) = delete;

    // False when libusb could not allocate the transfers.
    bool ready() const;
    // Queues a copy of the slice, waiting only while both transfers are on the bus. Returns the
    // failure of an earlier transfer instead, if one is known and not yet reported; a short
    // one comes back as FT_OK with its count in `written`. `confirmed`: the bytes handed over
    // in order up to the first transfer not known to be done (on a failure, up to the failed
    // one); a short transfer counts whole, as it is reported and never sent again.
    FT_STATUS write(const unsigned char* bytes, DWORD count, DWORD* written,
                    std::uint64_t* confirmed);
    // Waits for what is still queued, at most the write time-out, then takes the rest back.
    // Returns a failure not yet reported, and what was confirmed as for a write.
    FT_STATUS drain(std::uint64_t* confirmed);

  private:
    struct TransferDeleter {
        void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
    };
    struct Slot {
        std::unique_ptr<libusb_transfer, TransferDeleter> transfer;
        std::vector<unsigned char> bytes;  // the copy the transfer sends
        std::uint64_t sequence = 0;        // order of submission, from 1
        bool busy = false;
        int done = 0;  // set by libusb's callback, which may run in any event handling
    };
    struct Report {
        FT_STATUS status = FT_OK;
        DWORD written = 0;
        std::uint64_t confirmed = 0;  // of a failure: up to the transfer that failed
    };
    using TimePoint = std::chrono::steady_clock::time_point;

    static void LIBUSB_CALL onDone(libusb_transfer* transfer);
    FT_STATUS submit(Slot& slot, const unsigned char* bytes, DWORD count);
    Slot* freeSlot();
    Slot* oldestBusy();
    void handleEventsNow();
    bool waitFor(Slot& slot, TimePoint deadline);
    void cancelAll();
    // Until libusb has given back every transfer it still has; false if its event handling fails.
    bool takeBackAll();
    void finishDone();
    void finish(Slot& slot);
    std::optional<Report> takeFailure();

    ftdi_context& device_;
    Clock clock_;
    std::chrono::milliseconds timeout_;
    std::array<Slot, 2> slots_;
    std::uint64_t submitted_ = 0;
    // Transfers up to this one were on the bus when a failure was reported: their own
    // outcome belongs to that report.
    std::uint64_t reportedThrough_ = 0;
    // Since when the oldest transfer in flight has had the bus: its time-out runs from there,
    // as it would for a write made only once the one before it was done.
    TimePoint headSince_;
    std::optional<Report> pending_;
    // Bytes of the transfers done in order; those done behind a failure not yet reported wait in
    // `heldBack_`, as the report says the failure's place.
    std::uint64_t confirmed_ = 0;
    std::uint64_t heldBack_ = 0;
};

}  // namespace iqfeeder
