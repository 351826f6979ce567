// The run's one state record, owned by StreamRunner for the whole run.
#pragma once

#include <cstdint>
#include <string>

namespace iqfeeder {

inline constexpr std::uint32_t kInitialBufferSize = 32000;

struct RunState {
    std::string inputPath;
    std::int32_t readPosition = 0;  // may go negative within a pass, never at its start
    std::int32_t fileSize = 0;
    std::int32_t probeSize = 0;
    std::uint32_t bufferSize = kInitialBufferSize;
    bool isRecorded = false;
    bool anythingSent = false;  // a buffer has gone to the device: input errors now mean "retry"
};

}  // namespace iqfeeder
