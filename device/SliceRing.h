// The bytes on their way to the chip, owned in one place: pass buffers in slots of the ring's
// (the input reads straight into one), and the slices of them in order, waiting to be handed to
// the driver or handed and not yet reported. A slot is reused only once nothing points into it,
// and never when a driver could not give back the slices it had.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace iqfeeder {

class SliceRing {
  public:
    struct Piece {
        const std::uint8_t* bytes = nullptr;
        std::uint32_t size = 0;
        std::uint64_t buffer = 0;  // the pass buffer it belongs to
        std::uint64_t id = 0;      // given when handed over, in the order handed
        bool rest = false;         // what a short write left of a slice
        bool kept = false;         // kept through a loss of the device
    };

    SliceRing() = default;
    ~SliceRing();
    SliceRing(const SliceRing&) = delete;
    SliceRing& operator=(const SliceRing&) = delete;
    SliceRing(SliceRing&&) = delete;
    SliceRing& operator=(SliceRing&&) = delete;

    // Room for a pass buffer of at least `size` bytes, in a slot nothing points into. Valid
    // until the next call.
    std::span<std::uint8_t> room(std::uint32_t size);
    // The buffer's bytes in the ring: where they are when they were read into the room, else
    // a copy in a slot of its own (counted in `copies`).
    const std::uint8_t* hold(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t& copies);
    // A slice the driver did not give back: its slot is never reused nor freed.
    void leaveBehind(const Piece& piece);

    // A few slices each (a buffer's five, two on their way): vectors, which once grown make no
    // allocation as slices come and go.
    std::vector<Piece> waiting;  // to be handed over, in byte order
    std::vector<Piece> handed;   // handed over, not yet reported, in the order handed

  private:
    struct Slot {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::uint32_t capacity = 0;
        bool leftBehind = false;
    };
    bool inUse(const Slot& slot) const;
    static bool within(const Slot& slot, const std::uint8_t* bytes) {
        return bytes >= slot.bytes.get() && bytes < slot.bytes.get() + slot.capacity;
    }
    Slot& freeSlot(std::uint32_t size);

    std::vector<Slot> slots_;
    const Slot* room_ = nullptr;
};

}  // namespace iqfeeder
