// A file that is live whatever it does at start (--live): it is never taken for a recording.
// While it does not exist, is empty or does not grow, it is waited on, and one line says so;
// once it grows it is followed from 32000 bytes behind its end, and the bytes it held when the
// wait began are never sent. A file that shrinks (truncated, or replaced by a shorter one) is
// waited on again from its new length in the same way.
#pragma once

#include "app/InputFile.h"
#include "app/RunState.h"
#include "common/Console.h"

namespace iqfeeder {

enum class LiveStart { Follow, Wait };

// Once per pass, in place of the recorded/live probe, right after the pass measured fileSize.
// Follow: readPosition is set and sought, and the live position rules go on from there.
LiveStart startLivePass(RunState& state, InputFile& file, Console& console);
// The file could not be opened: waited for, as one that is empty.
void waitForLiveFile(RunState& state, Console& console);
// After the live position rules: a step back never reaches bytes from before the wait.
void holdAboveLiveFloor(RunState& state, InputFile& file);

}  // namespace iqfeeder
