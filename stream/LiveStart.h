// A file that is live whatever it does at start (--live): it is never taken for a recording.
// While it does not exist, is empty or does not grow, it is waited on, and one line says so;
// once it grows it is followed from 32000 bytes behind its end, and the bytes it held when the
// wait began are never sent. A file that shrinks (truncated, or replaced by a shorter one) is
// waited on again from its new length in the same way.
#pragma once

#include <cstdint>

#include "common/Console.h"
#include "stream/InputFile.h"
#include "stream/RunState.h"

namespace iqfeeder {

enum class LiveStart { Follow, Wait };

// What --live alone keeps across passes: the file is waited on until it grows past `baseline`
// (its length when the wait began; a missing file counts as empty), then followed, and nothing
// before `floor` is sent.
struct LiveWait {
    bool waiting = true;
    bool said = false;
    std::int64_t baseline = -1;  // -1: not measured yet
    std::int64_t floor = 0;
    std::int64_t lastSize = 0;  // as the last pass measured it, to see it shrink
};

// Once per pass, in place of the recorded/live probe, right after the pass measured fileSize.
// Follow: readPosition is set and sought, and the live position rules go on from there.
LiveStart startLivePass(RunState& state, LiveWait& wait, InputFile& file, Console& console);
// The file could not be opened: waited for, as one that is empty.
void waitForLiveFile(const RunState& state, LiveWait& wait, Console& console);
// After the live position rules: a step back never reaches bytes from before the wait.
void holdAboveLiveFloor(RunState& state, const LiveWait& wait, InputFile& file);

}  // namespace iqfeeder
