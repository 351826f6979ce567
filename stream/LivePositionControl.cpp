#include "stream/LivePositionControl.h"

#include <cstdint>

#include "common/ConsoleLines.h"

namespace iqfeeder {
namespace {

void moveToNewestBuffer(RunState& state, InputFile& file) {
    // Negative when the file is shorter than the buffer: the seek then fails and the read
    // happens where the pass left the file, which is what we want.
    state.readPosition = state.fileSize - state.bufferSize;
    file.seekTo(state.readPosition);
}

}  // namespace

LiveAdjustment adjustLivePosition(RunState& state, InputFile& file, Console& console) {
    LiveAdjustment adjustment;
    if (state.readPosition > state.fileSize) {
        adjustment.steppedBack = true;
        console.print("%s", lines::kOvertaken);
        moveToNewestBuffer(state, file);
        if (state.bufferSize == kInitialBufferSize) {
            state.bufferSize = 2 * kInitialBufferSize;
            console.print(lines::kBufferRaised, static_cast<int>(state.bufferSize));
            moveToNewestBuffer(state, file);
        }
    }
    std::int64_t backlog = state.fileSize - state.readPosition;
    if (backlog > kMaxBacklog) {
        adjustment.jumped = true;
        console.print("%s", lines::kTooFarBehind);
        const std::int64_t from = state.readPosition;
        moveToNewestBuffer(state, file);
        adjustment.bytesSkipped = state.readPosition - from;
        backlog = state.fileSize - state.readPosition;
    }
    console.print(lines::kLiveStatus, static_cast<long long>(state.fileSize / 1000),
                  static_cast<long long>(backlog / 128));
    return adjustment;
}

}  // namespace iqfeeder
