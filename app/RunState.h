// The run's one state record, owned by StreamRunner for the whole run.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace iqfeeder {

inline constexpr std::uint32_t kInitialBufferSize = 32000;
inline constexpr std::int64_t kPositionCap = 500000000;
// Lengths and positions are held at the largest signed 32-bit value unless the run is unlimited.
inline constexpr std::int64_t kLimitedSize = std::numeric_limits<std::int32_t>::max();

struct RunState {
    std::string inputPath;
    std::int64_t readPosition = 0;  // may go negative within a pass, never at its start
    std::int64_t fileSize = 0;
    std::int64_t probeSize = 0;
    std::uint32_t bufferSize = kInitialBufferSize;
    bool isRecorded = false;
    bool anythingSent = false;  // a buffer has gone to the device: input errors now mean "retry"

    // What the run may reach: measured lengths are held at `sizeLimit`, and the passes run while
    // the position is below `positionCap`. Both unbounded with --unlimited.
    std::int64_t sizeLimit = kLimitedSize;
    std::int64_t positionCap = kPositionCap;

    // Repeating a recording: how many times in all (0: until stopped), which one is being sent
    // (from 1), and whether the last one has gone out.
    std::uint64_t repeatCount = 1;
    bool repeating = false;
    std::uint64_t repetition = 1;
    bool repeatsDone = false;

    // --live: the file is waited on until it grows past `liveBaseline` (its length when the wait
    // began; a missing file counts as empty), then followed; nothing before `liveFloor` is sent.
    bool live = false;
    bool liveWaiting = true;
    bool liveWaitSaid = false;
    std::int64_t liveBaseline = -1;  // -1: not measured yet
    std::int64_t liveFloor = 0;
    std::int64_t liveLastSize = 0;  // as the last pass measured it, to see it shrink
};

}  // namespace iqfeeder
