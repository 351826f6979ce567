// DeviceLink's writes: each pass buffer as five slices into the ring, handed to the driver in
// order, and the driver's reports of them settled in one place: a slice taken short has its rest
// go next, a failure drops the rest of its buffer, a lost device keeps what it did not take.
#include <algorithm>

#include "common/ConsoleLines.h"
#include "device/DeviceLink.h"

namespace iqfeeder {

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
    result.unsent = 0;  // from here on, what is dropped is counted as it is dropped
    if (chunkSize == 0) {
        return result;
    }
    const std::uint8_t* held = ring_.hold(buffer, bufferSize, counters_.copiedBuffers);
    current_ = ++buffers_;
    // The remainder of a size that five does not divide never goes out, as it never did.
    for (std::uint32_t offset = 0; offset <= bufferSize - chunkSize; offset += chunkSize) {
        ring_.waiting.push_back({held + offset, chunkSize, current_});
    }
    feed(&result);
    if (lost_) {
        result.lost = true;
        result.unsent = 0;  // what it did not take goes out once it is back
    }
    return result;
}

void DeviceLink::feed(SendResult* result) {
    takeReports(result);  // what became of the slices still on their way
    bool first = true;
    while (open_ && !ring_.waiting.empty()) {
        // A stop asked for while the last slice was on its way: nothing more goes out.
        if (!first && stopping()) {
            return;
        }
        first = false;
        SliceRing::Piece piece = ring_.waiting.front();
        ring_.waiting.erase(ring_.waiting.begin());
        piece.id = ++slices_;
        ring_.handed.push_back(piece);
        driver_.submit(driver_.context, deviceHandle_, {piece.bytes, piece.size, piece.id});
        takeReports(result);
    }
}

void DeviceLink::takeReports(SendResult* result) {
    if (!open_) {
        return;
    }
    reports_.clear();
    driver_.status(driver_.context, deviceHandle_, reports_);
    settle(reports_, result);
}

void DeviceLink::settle(const std::vector<SliceReport>& reports, SendResult* result) {
    saidFailedNow_ = false;
    for (const SliceReport& report : reports) {
        settleOne(report, result);
    }
    if (lost_ && open_) {
        // Gone: closed at once, and what it had on its way is told by the close.
        std::vector<SliceReport> last;
        closeHandle(last);
        for (const SliceReport& report : last) {
            settleOne(report, result);
        }
    }
    if (!open_) {
        // Whatever the driver did not report is not known to have gone, nor to be given back:
        // its memory is left to it.
        for (const SliceRing::Piece& piece : ring_.handed) {
            ring_.leaveBehind(piece);
        }
        ring_.handed.clear();
    }
    // What goes out again goes first, in the order it was handed over.
    std::sort(again_.begin(), again_.end(),
              [](const SliceRing::Piece& a, const SliceRing::Piece& b) { return a.id < b.id; });
    ring_.waiting.insert(ring_.waiting.begin(), again_.begin(), again_.end());
    again_.clear();
}

void DeviceLink::settleOne(const SliceReport& report, SendResult* result) {
    const auto found =
        std::find_if(ring_.handed.begin(), ring_.handed.end(),
                     [&](const SliceRing::Piece& piece) { return piece.id == report.id; });
    if (found == ring_.handed.end()) {
        return;  // not one of ours, or told twice
    }
    SliceRing::Piece piece = *found;
    ring_.handed.erase(found);
    const std::uint32_t taken = std::min(report.taken, piece.size);
    SliceFate fate = report.fate;
    if (fate == SliceFate::Short && taken >= piece.size) {
        fate = SliceFate::Taken;
    } else if (fate == SliceFate::Short && taken == 0) {
        fate = SliceFate::TimedOut;  // nothing taken within the time-out: failed
    }
    switch (fate) {
        case SliceFate::Taken:
            counters_.bytesAccepted += piece.size;
            return;
        case SliceFate::Short: {
            counters_.bytesAccepted += taken;
            if (!piece.rest) {  // said once per slice, however many writes its rest takes
                ++counters_.shortWrites;
                console_.print("%s", lines::kWriteTimedOut);
            }
            if (result != nullptr && piece.buffer == current_) {
                result->shortWrite = true;
            }
            SliceRing::Piece rest = piece;
            rest.bytes += taken;
            rest.size -= taken;
            rest.rest = true;
            again_.push_back(rest);
            return;
        }
        case SliceFate::LeftBehind:
            ring_.leaveBehind(piece);
            if (!saidLeftBehind_) {
                saidLeftBehind_ = true;
                diagnostics_.print(
                    "iqfeeder: the USB stack did not give back a transfer taken back at the "
                    "close; it and its memory are left to it\n");
            }
            fail(piece, result);
            return;
        case SliceFate::Gone:
        case SliceFate::TimedOut:
        case SliceFate::Failed:
            if (lost_ || (reconnecting_ && fate != SliceFate::Failed)) {
                piece.kept = true;
                again_.push_back(piece);
                if (!lost_) {
                    ++counters_.failedWrites;
                    lost_ = true;  // closed once these reports are settled
                    console_.print("%s", lines::kDeviceLost);
                }
                return;
            }
            fail(piece, result);
            return;
    }
}

// A failure is said once per buffer (and once for slices that fail together), and the rest of
// that buffer is dropped; a later buffer goes out as usual.
void DeviceLink::fail(const SliceRing::Piece& piece, SendResult* result) {
    if (piece.buffer != failedBuffer_ && !saidFailedNow_) {
        ++counters_.failedWrites;
        console_.print("%s", lines::kWriteFailed);
    }
    failedBuffer_ = piece.buffer;
    saidFailedNow_ = true;
    std::uint64_t dropped = piece.size;
    bool droppedKept = piece.kept;
    std::erase_if(ring_.waiting, [&](const SliceRing::Piece& waiting) {
        if (waiting.buffer != piece.buffer) {
            return false;
        }
        dropped += waiting.size;
        droppedKept = droppedKept || waiting.kept;
        return true;
    });
    if (droppedKept) {
        diagnostics_.print(
            "iqfeeder: %llu bytes kept for the device's return could not be sent and are "
            "dropped\n",
            static_cast<unsigned long long>(dropped));
    }
    if (result != nullptr && piece.buffer == current_) {
        result->failed = true;
        result->unsent += static_cast<std::uint32_t>(dropped);
    }
}

void DeviceLink::closeHandle(std::vector<SliceReport>& reports) {
    const bool closed = driver_.close(driver_.context, deviceHandle_, reports);
    open_ = false;
    deviceHandle_ = nullptr;
    if (!closed) {
        diagnostics_.print("iqfeeder: the driver could not close the device cleanly\n");
    }
}

void DeviceLink::closeDriver(SendResult* result) {
    std::vector<SliceReport> reports;
    closeHandle(reports);
    settle(reports, result);
}

}  // namespace iqfeeder
