#include "device/ResendWindow.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace iqfeeder {

void ResendWindow::handed(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t buffer,
                          std::uint64_t confirmed) {
    handed_ += size;
    // Confirmed is a prefix of what was handed over: only the newest slices can be open.
    if (confirmed < handed_) {
        inFlight_.push_back({std::vector<std::uint8_t>(bytes, bytes + size), handed_, buffer});
    }
    confirm(confirmed);
}

void ResendWindow::confirm(std::uint64_t confirmed) {
    while (!inFlight_.empty() && inFlight_.front().end <= confirmed) {
        inFlight_.pop_front();
    }
}

std::optional<std::uint64_t> ResendWindow::oldestBuffer() const {
    if (inFlight_.empty()) {
        return std::nullopt;
    }
    return inFlight_.front().buffer;
}

void ResendWindow::keepUnconfirmed() {
    std::move(inFlight_.begin(), inFlight_.end(), std::back_inserter(resend_));
    inFlight_.clear();
}

void ResendWindow::keep(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t buffer) {
    resend_.push_back({std::vector<std::uint8_t>(bytes, bytes + size), 0, buffer});
}

std::deque<ResendWindow::Slice> ResendWindow::takeResend() {
    std::deque<Slice> slices;
    slices.swap(resend_);
    return slices;
}

}  // namespace iqfeeder
