#include "device/LibFtdiTransferQueue.h"

#include <sys/time.h>

#include <algorithm>

namespace iqfeeder {
namespace {

// How long transfers that were taken back may take to come back from libusb.
constexpr std::chrono::milliseconds kTakeBackGrace{1000};

timeval toTimeval(std::chrono::steady_clock::duration wait) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
    timeval value{};
    value.tv_sec = static_cast<decltype(value.tv_sec)>(micros / 1000000);
    value.tv_usec = static_cast<decltype(value.tv_usec)>(micros % 1000000);
    return value;
}

}  // namespace

LibFtdiTransferQueue::LibFtdiTransferQueue(ftdi_context& device, Clock clock,
                                           std::uint32_t writeTimeoutMs, Say say)
    : device_(device),
      clock_(std::move(clock)),
      timeout_(writeTimeoutMs > 0 ? static_cast<int>(writeTimeoutMs) : device.usb_write_timeout),
      say_(std::move(say)) {
    for (Slot& slot : slots_) {
        slot.transfer.reset(libusb_alloc_transfer(0));
    }
}

LibFtdiTransferQueue::~LibFtdiTransferQueue() {
    // libusb's close does not free a transfer it still has, and freeing one it has would let it
    // read freed memory: every one is taken back first, or left to libusb.
    std::vector<SliceReport> unheard;
    drain(unheard);
}

bool LibFtdiTransferQueue::ready() const {
    return std::all_of(slots_.begin(), slots_.end(),
                       [](const Slot& slot) { return slot.transfer != nullptr; });
}

void LibFtdiTransferQueue::submit(const SliceToSend& slice) {
    if (slice.size == 0) {
        reports_.push_back({slice.id, SliceFate::Taken, 0});  // not a zero-length packet
        return;
    }
    handleEventsNow();
    Slot* slot = freeSlot();
    if (slot == nullptr) {
        if (!waitFor(*oldestBusy(), headSince_ + timeout_)) {
            // The chip took nothing in time: this slice would only wait behind the two
            // taken back, so it is not sent either.
            takeBackAll();
            reports_.push_back({slice.id, SliceFate::TimedOut, 0});
            return;
        }
        slot = freeSlot();
    }
    if (slot == nullptr || !slot->transfer) {
        reports_.push_back({slice.id, SliceFate::Failed, 0});  // libusb has no transfer for it
        return;
    }
    // No time-out of libusb's: it would run from the submission, also while this transfer
    // waits behind the other one. libusb only reads the bytes.
    libusb_fill_bulk_transfer(slot->transfer.get(), device_.usb_dev,
                              static_cast<unsigned char>(device_.in_ep),
                              const_cast<unsigned char*>(slice.bytes), static_cast<int>(slice.size),
                              &LibFtdiTransferQueue::onDone, &slot->done, 0);
    slot->done = 0;
    slot->takenBack = false;
    if (libusb_submit_transfer(slot->transfer.get()) != 0) {
        // No device, or one libusb can no longer reach: gone either way.
        reports_.push_back({slice.id, SliceFate::Gone, 0});
        return;
    }
    if (oldestBusy() == nullptr) {
        headSince_ = clock_();
    }
    slot->busy = true;
    slot->id = slice.id;
    slot->sequence = ++submitted_;
}

void LibFtdiTransferQueue::status(std::vector<SliceReport>& reports) {
    handleEventsNow();
    reports.insert(reports.end(), reports_.begin(), reports_.end());
    reports_.clear();
}

void LibFtdiTransferQueue::drain(std::vector<SliceReport>& reports) {
    const TimePoint deadline = clock_() + timeout_;
    for (Slot* slot = oldestBusy(); slot != nullptr; slot = oldestBusy()) {
        if (!waitFor(*slot, deadline)) {
            takeBackAll();
            break;
        }
    }
    reports.insert(reports.end(), reports_.begin(), reports_.end());
    reports_.clear();
}

void LIBUSB_CALL LibFtdiTransferQueue::onDone(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

LibFtdiTransferQueue::Slot* LibFtdiTransferQueue::freeSlot() {
    auto* const found =
        std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.busy; });
    return found == slots_.end() ? nullptr : found;
}

LibFtdiTransferQueue::Slot* LibFtdiTransferQueue::oldestBusy() {
    auto* const oldest =
        std::min_element(slots_.begin(), slots_.end(), [](const Slot& a, const Slot& b) {
            return a.busy && (!b.busy || a.sequence < b.sequence);
        });
    return oldest->busy ? oldest : nullptr;
}

void LibFtdiTransferQueue::sayOnce(bool& said, const char* line) {
    if (!said && say_) {
        say_(line);
    }
    said = true;
}

bool LibFtdiTransferQueue::handleEvents(TimePoint deadline, int* done) {
    const TimePoint now = clock_();
    timeval wait = toTimeval(deadline > now ? deadline - now : TimePoint::duration::zero());
    // libusb returns early once `done` is set, so nothing is waited for in vain.
    const int result = libusb_handle_events_timeout_completed(device_.usb_ctx, &wait, done);
    if (result != 0 && result != LIBUSB_ERROR_INTERRUPTED) {
        sayOnce(saidEventError_, (std::string("iqfeeder: libusb could not handle USB events: ") +
                                  libusb_error_name(result) + "\n")
                                     .c_str());
        return false;
    }
    return true;
}

// Picks up transfers that are done already, without waiting for any.
void LibFtdiTransferQueue::handleEventsNow() {
    if (oldestBusy() != nullptr) {
        (void)handleEvents(clock_(), nullptr);
        finishDone();
    }
}

// Lets libusb handle events until the slot's transfer is done or the deadline has passed.
bool LibFtdiTransferQueue::waitFor(Slot& slot, TimePoint deadline) {
    while (slot.done == 0 && clock_() < deadline && handleEvents(deadline, &slot.done)) {
    }
    const bool done = slot.done != 0;
    finishDone();
    return done;
}

// The chip took none of the oldest in time, so the one behind it has not started either.
void LibFtdiTransferQueue::takeBackAll() {
    for (Slot& slot : slots_) {
        if (slot.busy && slot.done == 0) {
            slot.takenBack = true;
            (void)libusb_cancel_transfer(slot.transfer.get());  // may have finished meanwhile
        }
    }
    const TimePoint deadline = clock_() + kTakeBackGrace;
    for (Slot* slot = oldestBusy(); slot != nullptr; slot = oldestBusy()) {
        if (!waitFor(*slot, deadline)) {
            break;
        }
    }
    // Past the grace: what libusb still has is left to it, never freed under it.
    for (Slot& slot : slots_) {
        if (slot.busy) {
            reports_.push_back({slot.id, SliceFate::LeftBehind, 0});
            // Should libusb give it back after all, its callback marks a flag that outlives us.
            static int leftBehindDone = 0;
            slot.transfer->user_data = &leftBehindDone;
            (void)slot.transfer.release();
            slot.transfer.reset(libusb_alloc_transfer(0));
            slot.busy = false;
        }
    }
}

// Finishes the transfers libusb has given back, oldest first.
void LibFtdiTransferQueue::finishDone() {
    for (Slot* slot = oldestBusy(); slot != nullptr && slot->done != 0; slot = oldestBusy()) {
        finish(*slot);
    }
}

void LibFtdiTransferQueue::finish(Slot& slot) {
    slot.busy = false;
    headSince_ = clock_();  // the transfer behind it, if any, has the bus from now
    const libusb_transfer& transfer = *slot.transfer;
    const auto taken = static_cast<std::uint32_t>(std::max(transfer.actual_length, 0));
    SliceReport report{slot.id, SliceFate::Taken, taken};
    if (transfer.status == LIBUSB_TRANSFER_COMPLETED) {
        if (transfer.actual_length < transfer.length) {
            report.fate = SliceFate::Short;
        }
    } else if (slot.takenBack || transfer.status == LIBUSB_TRANSFER_CANCELLED) {
        // What the chip took before it stopped counts; the rest goes again.
        report.fate = taken > 0 ? SliceFate::Short : SliceFate::TimedOut;
    } else {
        // A stall, a bus error, or no device: the chip can't be reached as it was.
        report.fate = SliceFate::Gone;
        report.taken = 0;
    }
    reports_.push_back(report);
}

}  // namespace iqfeeder
