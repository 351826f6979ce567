#include "device/LibFtdiTransferQueue.h"

#include <sys/time.h>

#include <algorithm>

namespace iqfeeder {
namespace {

// How long a transfer that was taken back may take to come back from libusb.
constexpr std::chrono::milliseconds kCancelGrace{1000};

FT_STATUS statusOfTransfer(libusb_transfer_status status) {
    return status == LIBUSB_TRANSFER_NO_DEVICE ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
}

FT_STATUS statusOfSubmit(int error) {
    return error == LIBUSB_ERROR_NO_DEVICE ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
}

timeval toTimeval(std::chrono::steady_clock::duration wait) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
    timeval value{};
    value.tv_sec = static_cast<decltype(value.tv_sec)>(micros / 1000000);
    value.tv_usec = static_cast<decltype(value.tv_usec)>(micros % 1000000);
    return value;
}

}  // namespace

LibFtdiTransferQueue::LibFtdiTransferQueue(ftdi_context& device, Clock clock)
    : device_(device), clock_(std::move(clock)), timeout_(device.usb_write_timeout) {
    for (Slot& slot : slots_) {
        slot.transfer.reset(libusb_alloc_transfer(0));
    }
}

LibFtdiTransferQueue::~LibFtdiTransferQueue() {
    // libusb's close does not free a transfer it still has, and freeing one it has would let it
    // write into freed memory: take every one back first. Only if libusb can't handle events at
    // all is one left to it.
    if (!takeBackAll()) {
        for (Slot& slot : slots_) {
            if (slot.busy) {
                (void)slot.transfer.release();
            }
        }
    }
}

bool LibFtdiTransferQueue::takeBackAll() {
    for (Slot& slot : slots_) {
        if (slot.busy && slot.done == 0) {
            (void)libusb_cancel_transfer(slot.transfer.get());
        }
    }
    for (Slot* slot = oldestBusy(); slot != nullptr; slot = oldestBusy()) {
        // A cancelled transfer always comes back; the wait is only bounded so a stuck libusb
        // is seen.
        timeval wait = toTimeval(kCancelGrace);
        const int result =
            libusb_handle_events_timeout_completed(device_.usb_ctx, &wait, &slot->done);
        if (result != 0 && result != LIBUSB_ERROR_INTERRUPTED) {
            return false;
        }
        finishDone();
    }
    return true;
}

bool LibFtdiTransferQueue::ready() const {
    return std::all_of(slots_.begin(), slots_.end(),
                       [](const Slot& slot) { return slot.transfer != nullptr; });
}

FT_STATUS LibFtdiTransferQueue::write(const unsigned char* bytes, DWORD count, DWORD* written,
                                      std::uint64_t* confirmed) {
    *written = 0;
    *confirmed = confirmed_;
    if (count == 0) {
        return FT_OK;  // nothing to send, as before: not a zero-length packet
    }
    handleEventsNow();
    if (const std::optional<Report> failure = takeFailure()) {
        *confirmed = failure->confirmed;
        return failure->status;
    }
    Slot* slot = freeSlot();
    if (slot == nullptr) {
        if (!waitFor(*oldestBusy(), headSince_ + timeout_)) {
            cancelAll();
        }
        if (const std::optional<Report> failure = takeFailure()) {
            *confirmed = failure->confirmed;
            return failure->status;
        }
        slot = freeSlot();
        if (slot == nullptr) {
            return FT_IO_ERROR;  // a transfer libusb did not give back even when taken back
        }
    }
    const FT_STATUS status = submit(*slot, bytes, count);
    *confirmed = confirmed_;
    if (status != FT_OK) {
        return status;
    }
    *written = count;
    if (pending_) {  // what is left is a short transfer, reported with the count it had
        *written = pending_->written;
        pending_.reset();
    }
    return FT_OK;
}

FT_STATUS LibFtdiTransferQueue::drain(std::uint64_t* confirmed) {
    const TimePoint deadline = clock_() + timeout_;
    for (Slot* slot = oldestBusy(); slot != nullptr; slot = oldestBusy()) {
        if (!waitFor(*slot, deadline)) {
            cancelAll();
            break;
        }
    }
    const std::optional<Report> failure = takeFailure();
    pending_.reset();
    *confirmed = failure ? failure->confirmed : confirmed_;
    return failure ? failure->status : FT_OK;
}

void LIBUSB_CALL LibFtdiTransferQueue::onDone(libusb_transfer* transfer) {
    static_cast<Slot*>(transfer->user_data)->done = 1;
}

FT_STATUS LibFtdiTransferQueue::submit(Slot& slot, const unsigned char* bytes, DWORD count) {
    slot.bytes.assign(bytes, bytes + count);  // no allocation once the largest slice was seen
    // No time-out of libusb's: it would run from the submission, also while this transfer
    // waits behind the other one.
    libusb_fill_bulk_transfer(slot.transfer.get(), device_.usb_dev,
                              static_cast<unsigned char>(device_.in_ep), slot.bytes.data(),
                              static_cast<int>(count), &LibFtdiTransferQueue::onDone, &slot, 0);
    slot.done = 0;
    const int result = libusb_submit_transfer(slot.transfer.get());
    if (result != 0) {
        return statusOfSubmit(result);
    }
    if (oldestBusy() == nullptr) {
        headSince_ = clock_();
    }
    slot.busy = true;
    slot.sequence = ++submitted_;
    return FT_OK;
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

// Picks up transfers that are done already, without waiting for any.
void LibFtdiTransferQueue::handleEventsNow() {
    if (oldestBusy() == nullptr) {
        return;
    }
    timeval now{};
    (void)libusb_handle_events_timeout_completed(device_.usb_ctx, &now, nullptr);
    finishDone();
}

// Lets libusb handle events, asleep in its poll, until the slot's transfer is done or the
// deadline has passed.
bool LibFtdiTransferQueue::waitFor(Slot& slot, TimePoint deadline) {
    bool handling = true;
    while (slot.done == 0 && handling) {
        const TimePoint now = clock_();
        if (now >= deadline) {
            break;
        }
        timeval wait = toTimeval(deadline - now);
        // libusb returns early once `done` is set, so nothing is waited for in vain.
        const int result =
            libusb_handle_events_timeout_completed(device_.usb_ctx, &wait, &slot.done);
        handling = result == 0 || result == LIBUSB_ERROR_INTERRUPTED;
    }
    const bool done = slot.done != 0;
    finishDone();
    return done;
}

// Takes back every transfer still on the bus (the chip took none of the oldest in time, so the
// one behind it has not started either) and waits until libusb has given them back.
void LibFtdiTransferQueue::cancelAll() {
    for (Slot& slot : slots_) {
        if (slot.busy && slot.done == 0) {
            (void)libusb_cancel_transfer(slot.transfer.get());  // may have finished meanwhile
        }
    }
    const TimePoint deadline = clock_() + kCancelGrace;
    for (Slot* slot = oldestBusy(); slot != nullptr; slot = oldestBusy()) {
        if (!waitFor(*slot, deadline)) {
            break;
        }
    }
    // A transfer that was taken back failed, whatever libusb made of its cancellation.
    if (!pending_ || pending_->status == FT_OK) {
        pending_ = Report{FT_IO_ERROR, 0, confirmed_};
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
    const auto length = static_cast<std::uint64_t>(slot.transfer->length);
    if (slot.sequence <= reportedThrough_) {
        confirmed_ += length;  // its outcome went with the failure reported
        return;
    }
    if (pending_ && pending_->status != FT_OK) {
        heldBack_ += length;  // covered by the failure waiting to be reported
        return;
    }
    const libusb_transfer& transfer = *slot.transfer;
    if (transfer.status != LIBUSB_TRANSFER_COMPLETED) {
        pending_ = Report{statusOfTransfer(transfer.status), 0, confirmed_};
        heldBack_ = length;
        return;
    }
    confirmed_ += length;
    if (transfer.actual_length < transfer.length && !pending_) {
        pending_ = Report{FT_OK, static_cast<DWORD>(transfer.actual_length), 0};
    }
}

std::optional<LibFtdiTransferQueue::Report> LibFtdiTransferQueue::takeFailure() {
    if (!pending_ || pending_->status == FT_OK) {
        return std::nullopt;
    }
    std::optional<Report> failure = pending_;
    pending_.reset();
    reportedThrough_ = submitted_;
    confirmed_ += heldBack_;
    heldBack_ = 0;
    return failure;
}

}  // namespace iqfeeder
