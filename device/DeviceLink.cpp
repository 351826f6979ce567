#include "device/DeviceLink.h"

#include "common/ConsoleLines.h"

namespace iqfeeder {

void DeviceLink::openDevice(const DeviceChoice& choice) {
    choice_ = choice;
    const int index = choice.serial.empty() ? choice.index : findSerial(choice.serial);
    if (listed_ && index > 0) {
        const auto listedAt = static_cast<std::size_t>(index);
        if (listedAt < listing_.size()) {
            console_.print("Using device %i: %s\n", index, listing_[listedAt].description.c_str());
        } else {
            console_.print("Using device %i\n", index);
        }
    }
    // Some drivers crash inside their open when the listing failed; don't ask them to open.
    if (listed_ && index >= 0 && open(index)) {
        openedSerial_ = choice.serial;
        if (reconnecting_ && openedSerial_.empty() &&
            static_cast<std::size_t>(index) < listing_.size()) {
            openedSerial_ = listing_[static_cast<std::size_t>(index)].serial;
        }
        sayHowItReconnects();
        return;
    }
    console_.print("%s", lines::kCantOpenDevice);
    if (reconnecting_) {
        // Looked for by what the operator asked for: the serial, or the index.
        openedIndex_ = choice.serial.empty() ? choice.index : 0;
        openedSerial_ = choice.serial;
        lost_ = true;
        console_.print("Waiting for the FTDI device.....\n");
    }
}

void DeviceLink::sayHowItReconnects() {
    if (!reconnecting_ || !openedSerial_.empty()) {
        return;
    }
    if (choice_.indexNamed) {
        diagnostics_.print(
            "iqfeeder: device %i has no serial number; if it is lost, it is looked for again "
            "at index %i, whatever chip is there\n",
            openedIndex_, openedIndex_);
    } else {
        diagnostics_.print(
            "iqfeeder: device %i has no serial number, so if it is lost it can't be told from "
            "another chip and is not looked for; name its index with -d to have it looked for "
            "there\n",
            openedIndex_);
    }
}

bool DeviceLink::open(int index) {
    if (driver_.open(driver_.context, index, &deviceHandle_) != FT_OK) {
        deviceHandle_ = nullptr;
        return false;
    }
    open_ = true;
    everOpen_ = true;
    openedIndex_ = index;
    window_.opened();
    return true;
}

void DeviceLink::loseDevice() {
    std::uint64_t confirmed = 0;
    (void)driver_.close(driver_.context, deviceHandle_, confirmed);
    open_ = false;
    deviceHandle_ = nullptr;
    lost_ = true;
    console_.print("FTDI device lost, looking for it.....\n");
}

int DeviceLink::whereToReconnect(const std::vector<ListedDevice>& devices) const {
    if (!openedSerial_.empty()) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].serial == openedSerial_) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // Without a serial number, a chip once open is only looked for where the operator said.
    if (everOpen_ && !choice_.indexNamed) {
        return -1;
    }
    return static_cast<std::size_t>(openedIndex_) < devices.size() ? openedIndex_ : -1;
}

bool DeviceLink::reconnect() {
    if (!lost_) {
        return true;  // and never list serial numbers with the device open
    }
    std::vector<ListedDevice> devices;
    if (driver_.list(driver_.context, true, devices) != FT_OK) {
        return false;
    }
    const int index = whereToReconnect(devices);
    const bool wasOpen = everOpen_;
    if (index < 0 || !open(index)) {
        return false;
    }
    if (openedSerial_.empty()) {
        openedSerial_ = devices[static_cast<std::size_t>(index)].serial;
        if (!wasOpen) {
            sayHowItReconnects();
        }
    }
    lost_ = false;
    ++counters_.reconnects;
    console_.print(wasOpen ? "FTDI device back, streaming on.\n"
                           : "FTDI device found, streaming.\n");
    return resendKept();
}

// What the device had not confirmed when it went, in order, before anything new.
bool DeviceLink::resendKept() {
    const std::uint64_t buffer = ++buffers_;
    std::deque<ResendWindow::Slice> slices = window_.takeResend();
    while (!slices.empty()) {
        ResendWindow::Slice& slice = slices.front();
        const auto size = static_cast<std::uint32_t>(slice.bytes.size());
        std::uint32_t taken = 0;
        switch (writeSlice(slice.bytes.data(), size, buffer, taken)) {
            case SliceOutcome::Taken:
                break;
            case SliceOutcome::FailedHere:
            case SliceOutcome::FailedEarlier:
                return true;  // said; the rest of what was kept is dropped with it
            case SliceOutcome::Lost:
                // Kept again, behind what the device had not confirmed of the resend.
                for (auto rest = slices.begin() + 1; rest != slices.end(); ++rest) {
                    window_.keep(rest->bytes.data(), static_cast<std::uint32_t>(rest->bytes.size()),
                                 buffer);
                }
                return false;
        }
        slices.pop_front();
    }
    return true;
}

// Hands one slice to the driver. A failure is charged to the buffer of the oldest slice the
// chip has not confirmed: this one, or with a queued driver one still on its way (and then the
// slice in hand did not go).
DeviceLink::SliceOutcome DeviceLink::writeSlice(const std::uint8_t* bytes, std::uint32_t size,
                                                std::uint64_t buffer, std::uint32_t& taken) {
    WriteReport report;
    const FT_STATUS status = driver_.write(driver_.context, deviceHandle_, bytes, size, report);
    taken = 0;
    if (status == FT_OK) {
        window_.handed(bytes, size, buffer, report.confirmed);
        taken = report.taken < size ? report.taken : size;
        counters_.bytesAccepted += taken;
        if (taken != size) {
            ++counters_.shortWrites;
            console_.print("%s", lines::kWriteTimedOut);
        }
        return SliceOutcome::Taken;
    }
    ++counters_.failedWrites;
    window_.confirm(report.confirmed);
    const std::uint64_t failedBuffer = window_.oldestBuffer().value_or(buffer);
    if (gone(status)) {
        window_.keepUnconfirmed();
        window_.keep(bytes, size, buffer);
        loseDevice();
        return SliceOutcome::Lost;
    }
    window_.giveUp();
    console_.print("%s", lines::kWriteFailed);
    return failedBuffer == buffer ? SliceOutcome::FailedHere : SliceOutcome::FailedEarlier;
}

SendResult DeviceLink::sendBuffer(const std::uint8_t* buffer, std::uint32_t bufferSize) {
    SendResult result;
    if (stopping()) {
        return result;
    }
    result.unsent = bufferSize;
    if (lost_) {
        result.failed = true;
        result.lost = true;
        return result;  // said once, when it was lost
    }
    if (!open_) {
        ++counters_.failedWrites;
        console_.print("%s", lines::kWriteFailed);
        result.failed = true;
        return result;
    }
    const std::uint32_t chunkSize = bufferSize / 5;
    if (chunkSize == 0) {
        result.unsent = 0;
        return result;
    }
    const std::uint64_t id = ++buffers_;
    bool retried = false;
    std::uint32_t offset = 0;
    while (offset <= bufferSize - chunkSize) {
        // A stop asked for while the last slice was on its way: nothing more goes out.
        if (offset > 0 && stopping()) {
            return result;
        }
        std::uint32_t taken = 0;
        switch (writeSlice(buffer + offset, chunkSize, id, taken)) {
            case SliceOutcome::Taken:
                result.unsent -= taken;
                result.shortWrite = result.shortWrite || taken != chunkSize;
                offset += chunkSize;
                retried = false;
                break;
            case SliceOutcome::FailedEarlier:
                // Not this buffer's failure: the slice in hand goes again, once.
                if (!retried) {
                    retried = true;
                    break;
                }
                [[fallthrough]];
            case SliceOutcome::FailedHere:
                result.failed = true;
                return result;
            case SliceOutcome::Lost:
                // What this buffer had left goes out once the device is back.
                for (offset += chunkSize; offset <= bufferSize - chunkSize; offset += chunkSize) {
                    window_.keep(buffer + offset, chunkSize, id);
                }
                result.unsent = 0;
                result.lost = true;
                return result;
        }
    }
    // The remainder of a size that five does not divide never goes out, as it never did.
    result.unsent -= bufferSize - offset;
    return result;
}

void DeviceLink::closeDevice() {
    if (!open_) {
        return;
    }
    std::uint64_t confirmed = 0;
    const FT_STATUS status = driver_.close(driver_.context, deviceHandle_, confirmed);
    open_ = false;
    deviceHandle_ = nullptr;
    if (status == FT_OK) {
        window_.giveUp();
        return;
    }
    // The last slices did not reach the chip.
    ++counters_.failedWrites;
    window_.confirm(confirmed);
    if (gone(status)) {
        window_.keepUnconfirmed();
        lost_ = true;
        console_.print("FTDI device lost, looking for it.....\n");
        return;
    }
    window_.giveUp();
    console_.print("%s", lines::kWriteFailed);
}

}  // namespace iqfeeder
