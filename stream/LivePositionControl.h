// Keeps a live pass's read position within its window behind the growing end of the file.
#pragma once

#include "common/Console.h"
#include "stream/InputFile.h"
#include "stream/RunState.h"

namespace iqfeeder {

// Largest backlog (bytes not yet read) that is left alone; beyond it the reader jumps ahead.
inline constexpr std::int32_t kMaxBacklog = 200000;

// What a live pass's rules did, for the run's statistics.
struct LiveAdjustment {
    bool steppedBack = false;
    bool jumped = false;
    std::int64_t bytesSkipped = 0;  // left out by the jump
};

// Runs once per live pass, after the pass has measured the file and sought to readPosition and
// before it reads. May step back (and raise bufferSize once), jump ahead, and prints the status.
LiveAdjustment adjustLivePosition(RunState& state, InputFile& file, Console& console);

}  // namespace iqfeeder
