// The bytes handed to the driver that the chip has not confirmed yet, slice by slice: up to two
// slices with a driver that keeps two transfers in flight, none with one whose write returns
// only once the chip has the slice. When the device is lost they are kept, with the rest of the
// buffer that was being written, to go out first once it is back.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace iqfeeder {

class ResendWindow {
  public:
    struct Slice {
        std::vector<std::uint8_t> bytes;
        std::uint64_t end = 0;     // bytes handed over since the open, this slice included
        std::uint64_t buffer = 0;  // which pass buffer it belongs to
    };

    // The driver counts what it confirmed from each open on.
    void opened() { handed_ = 0; }
    // A slice the driver took, and how much of everything handed over it has confirmed.
    void handed(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t buffer,
                std::uint64_t confirmed);
    void confirm(std::uint64_t confirmed);
    // The buffer of the oldest slice not confirmed, which a failure reported now belongs to.
    std::optional<std::uint64_t> oldestBuffer() const;

    // After a failure: what was not confirmed is given up, or kept to go out again, followed by
    // slices of the buffer that never went.
    void giveUp() { inFlight_.clear(); }
    void keepUnconfirmed();
    void keep(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t buffer);

    bool holdsResend() const { return !resend_.empty(); }
    std::deque<Slice> takeResend();
    void dropResend() { resend_.clear(); }

  private:
    std::uint64_t handed_ = 0;
    std::deque<Slice> inFlight_;
    std::deque<Slice> resend_;
};

}  // namespace iqfeeder
