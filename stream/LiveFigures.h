// A live file's figures, for the rates and the advice: its own kind's, handed on with each pass.
#pragma once

#include <cstdint>

namespace iqfeeder {

// What a live pass saw of its file, and what its rules did.
struct LiveFigures {
    std::int64_t fileSize = 0;
    std::int64_t backlog = 0;  // bytes written but not yet read
    bool steppedBack = false;
    bool jumped = false;
    std::int64_t bytesSkipped = 0;  // left out by the jump
};

}  // namespace iqfeeder
