#include "device/SliceRing.h"

#include <algorithm>
#include <cstring>

namespace iqfeeder {
namespace {

// The larger of the two pass buffers: most runs need no slot of another size.
constexpr std::uint32_t kSlotBytes = 64000;

}  // namespace

SliceRing::~SliceRing() {
    // A slot the USB stack may still read is never freed under it.
    for (Slot& slot : slots_) {
        if (slot.leftBehind) {
            (void)slot.bytes.release();
        }
    }
}

bool SliceRing::inUse(const Slot& slot) const {
    const auto points = [&](const Piece& piece) { return within(slot, piece.bytes); };
    return slot.leftBehind || std::any_of(waiting.begin(), waiting.end(), points) ||
           std::any_of(handed.begin(), handed.end(), points);
}

SliceRing::Slot& SliceRing::freeSlot(std::uint32_t size) {
    const auto free = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& slot) {
        return slot.capacity >= size && &slot != room_ && !inUse(slot);
    });
    if (free != slots_.end()) {
        return *free;
    }
    // Slots are added, never moved: the vector holds owners, the bytes stay where they are.
    Slot& added = slots_.emplace_back();
    added.capacity = std::max(size, kSlotBytes);
    added.bytes = std::make_unique<std::uint8_t[]>(added.capacity);
    return added;
}

std::span<std::uint8_t> SliceRing::room(std::uint32_t size) {
    room_ = nullptr;
    Slot& slot = freeSlot(size);
    room_ = &slot;
    return {slot.bytes.get(), slot.capacity};
}

const std::uint8_t* SliceRing::hold(const std::uint8_t* bytes, std::uint32_t size,
                                    std::uint64_t& copies) {
    if (room_ != nullptr && within(*room_, bytes) &&
        bytes + size <= room_->bytes.get() + room_->capacity) {
        room_ = nullptr;  // filled: the next room is another slot
        return bytes;
    }
    room_ = nullptr;
    Slot& slot = freeSlot(size);
    std::memcpy(slot.bytes.get(), bytes, size);
    ++copies;
    return slot.bytes.get();
}

void SliceRing::leaveBehind(const Piece& piece) {
    for (Slot& slot : slots_) {
        if (within(slot, piece.bytes)) {
            slot.leftBehind = true;
        }
    }
}

}  // namespace iqfeeder
