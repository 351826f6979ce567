#include "stream/LiveStart.h"

#include <algorithm>

#include "common/ConsoleLines.h"

namespace iqfeeder {
namespace {

void beginWait(LiveWait& wait, std::int64_t baseline) {
    wait.waiting = true;
    wait.said = false;
    wait.baseline = baseline;
}

}  // namespace

LiveStart startLivePass(RunState& state, LiveWait& wait, InputFile& file, Console& console) {
    if (!wait.waiting && state.fileSize < wait.lastSize) {
        console.print(lines::kLiveShrank, state.inputPath.c_str());
        beginWait(wait, state.fileSize);
        wait.said = true;
    }
    if (wait.waiting) {
        if (wait.baseline < 0 || state.fileSize < wait.baseline) {
            // The first look, or cut again while waited on: the wait starts from here.
            const bool said = wait.said;
            beginWait(wait, state.fileSize);
            wait.said = said;
            return LiveStart::Wait;
        }
        if (state.fileSize == wait.baseline) {
            if (!wait.said) {
                console.print(lines::kLiveWaitingToGrow, state.inputPath.c_str());
                wait.said = true;
            }
            return LiveStart::Wait;
        }
        wait.waiting = false;
        wait.floor = wait.baseline;
        state.readPosition =
            std::max(state.fileSize - static_cast<std::int64_t>(kInitialBufferSize), wait.floor);
    }
    wait.lastSize = state.fileSize;
    file.seekTo(state.readPosition);
    return LiveStart::Follow;
}

void waitForLiveFile(const RunState& state, LiveWait& wait, Console& console) {
    if (!wait.waiting || wait.baseline != 0) {
        beginWait(wait, 0);
    }
    if (!wait.said) {
        console.print(lines::kLiveWaitingToBeCreated, state.inputPath.c_str());
        wait.said = true;
    }
}

void holdAboveLiveFloor(RunState& state, const LiveWait& wait, InputFile& file) {
    if (state.readPosition < wait.floor) {
        state.readPosition = wait.floor;
        file.seekTo(state.readPosition);
    }
}

}  // namespace iqfeeder
