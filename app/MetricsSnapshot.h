// The figures the metrics file shows, as one record. takeSnapshot() is the one place that knows
// where the run keeps each of them; the file's text is made from this record alone.
#pragma once

#include <cstdint>
#include <optional>

#include "device/DeviceLink.h"
#include "stream/InputKind.h"

namespace iqfeeder {

// What the run counts for the metrics as it goes, beside the device link's own counters.
struct RunCounts {
    std::uint64_t inputBytes = 0;  // read from the input, for the device
    std::uint64_t stepBacks = 0;
    std::uint64_t jumps = 0;
    std::uint64_t bytesSkipped = 0;           // dropped by the jumps ahead
    std::optional<std::int64_t> liveBacklog;  // bytes, as the last live pass left it
    std::optional<NetworkFigures> network;    // as the network input last told them
};

struct MetricsSnapshot {
    std::uint64_t atMs = 0;  // run clock
    std::uint64_t deviceBytes = 0;
    std::uint64_t writeFailures = 0;
    std::uint64_t shortWrites = 0;
    std::uint64_t reconnects = 0;
    bool deviceOpen = false;
    std::uint64_t inputBytes = 0;
    std::optional<std::int64_t> liveBacklogBytes;
    std::uint64_t stepBacks = 0;
    std::uint64_t jumps = 0;
    std::uint64_t bytesSkipped = 0;
    // Datagrams dropped, by reason: the kernel's receive buffer overflowed, a datagram from
    // another sender than the one being taken, a sender not allowed.
    std::uint64_t droppedOverflow = 0;
    std::uint64_t droppedOtherSender = 0;
    std::uint64_t droppedNotAllowed = 0;
    std::uint64_t senders = 0;
    std::uint64_t consoleLinesLost = 0;
    std::optional<std::uint64_t> lastWriteMs;  // run clock: the device last took bytes
    bool running = true;
    // Made from the above for the file (see RunMetrics).
    double liveBacklogSeconds = 0;  // at the device's rate; NaN while it takes nothing
    double lastWriteSeconds = 0;    // wall clock, seconds since 1970; 0: never
};

// Fills `snapshot` from the run as it stands at `nowMs` (run clock), after every pass and every
// wait. The snapshot it is given is the last one: the device took bytes since if its count grew.
void takeSnapshot(MetricsSnapshot& snapshot, const DeviceLink& device, const RunCounts& run,
                  std::uint64_t nowMs);

}  // namespace iqfeeder
