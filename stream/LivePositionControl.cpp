#include "stream/LivePositionControl.h"

#include <cstdint>

namespace iqfeeder {
namespace {

void moveToNewestBuffer(RunState& state, InputFile& file) {
    // Negative when the file is shorter than the buffer: the seek then fails and the read
    // happens where the pass left the file, which is what we want.
    state.readPosition =
        static_cast<std::int32_t>(static_cast<std::int64_t>(state.fileSize) - state.bufferSize);
    file.seekTo(state.readPosition);
}

}  // namespace

void adjustLivePosition(RunState& state, InputFile& file, Console& console) {
    if (state.readPosition > state.fileSize) {
        console.print("\nInput stream bitrate not high enough\n");
        moveToNewestBuffer(state, file);
        if (state.bufferSize == kInitialBufferSize) {
            state.bufferSize = 2 * kInitialBufferSize;
            console.print("Increasing buffer to %iBytes\n", static_cast<int>(state.bufferSize));
            moveToNewestBuffer(state, file);
        }
    }
    // 64-bit so a saturated file length can't overflow the difference.
    std::int64_t backlog = static_cast<std::int64_t>(state.fileSize) - state.readPosition;
    if (backlog > kMaxBacklog) {
        console.print("\nDelay too high, re-started buffer..\n");
        moveToNewestBuffer(state, file);
        backlog = static_cast<std::int64_t>(state.fileSize) - state.readPosition;
    }
    console.print("Status: Size of pipe file is: %i KBytes, Delay: %ims\r",
                  static_cast<int>(state.fileSize / 1000), static_cast<int>(backlog / 128));
}

}  // namespace iqfeeder
