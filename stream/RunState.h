// A file's state across its passes: where the next pass reads, what the file measured, the
// buffer's size, and whether the probe found it recorded. Held by the file's input kind and
// handed on with it when a live file turns out recorded.
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
};

// What a file's run may reach: measured lengths are held at `sizeLimit`, and the passes run
// while the position is below `positionCap`. Both unbounded with --unlimited.
struct FileLimits {
    std::int64_t sizeLimit = kLimitedSize;
    std::int64_t positionCap = kPositionCap;
};

}  // namespace iqfeeder
