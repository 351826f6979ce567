#include "stream/LiveStart.h"

#include <algorithm>

namespace iqfeeder {
namespace {

void beginWait(RunState& state, std::int64_t baseline) {
    state.liveWaiting = true;
    state.liveWaitSaid = false;
    state.liveBaseline = baseline;
}

}  // namespace

LiveStart startLivePass(RunState& state, InputFile& file, Console& console) {
    if (!state.liveWaiting && state.fileSize < state.liveLastSize) {
        console.print("Input file %s shrank: waiting for it to grow.....\n",
                      state.inputPath.c_str());
        beginWait(state, state.fileSize);
        state.liveWaitSaid = true;
    }
    if (state.liveWaiting) {
        if (state.liveBaseline < 0 || state.fileSize < state.liveBaseline) {
            // The first look, or cut again while waited on: the wait starts from here.
            const bool said = state.liveWaitSaid;
            beginWait(state, state.fileSize);
            state.liveWaitSaid = said;
            return LiveStart::Wait;
        }
        if (state.fileSize == state.liveBaseline) {
            if (!state.liveWaitSaid) {
                console.print("Waiting for %s to grow.....\n", state.inputPath.c_str());
                state.liveWaitSaid = true;
            }
            return LiveStart::Wait;
        }
        state.liveWaiting = false;
        state.liveFloor = state.liveBaseline;
        state.readPosition = std::max(
            state.fileSize - static_cast<std::int64_t>(kInitialBufferSize), state.liveFloor);
    }
    state.liveLastSize = state.fileSize;
    file.seekTo(state.readPosition);
    return LiveStart::Follow;
}

void waitForLiveFile(RunState& state, Console& console) {
    if (!state.liveWaiting || state.liveBaseline != 0) {
        beginWait(state, 0);
    }
    if (!state.liveWaitSaid) {
        console.print("Waiting for %s to be created.....\n", state.inputPath.c_str());
        state.liveWaitSaid = true;
    }
}

void holdAboveLiveFloor(RunState& state, InputFile& file) {
    if (state.readPosition < state.liveFloor) {
        state.readPosition = state.liveFloor;
        file.seekTo(state.readPosition);
    }
}

}  // namespace iqfeeder
