#include "app/MetricsSnapshot.h"

namespace iqfeeder {

void takeSnapshot(MetricsSnapshot& snapshot, const DeviceLink& device, const RunCounts& run,
                  std::uint64_t nowMs) {
    const DeviceCounters& counters = device.counters();
    if (counters.bytesAccepted > snapshot.deviceBytes) {
        snapshot.lastWriteMs = nowMs;
    }
    snapshot.atMs = nowMs;
    snapshot.deviceBytes = counters.bytesAccepted;
    snapshot.writeFailures = counters.failedWrites;
    snapshot.shortWrites = counters.shortWrites;
    snapshot.reconnects = counters.reconnects;
    snapshot.deviceOpen = device.isOpen();
    snapshot.inputBytes = run.inputBytes;
    snapshot.liveBacklogBytes = run.liveBacklog;
    snapshot.stepBacks = run.stepBacks;
    snapshot.jumps = run.jumps;
    snapshot.bytesSkipped = run.bytesSkipped;
    if (run.network) {
        snapshot.droppedOverflow = run.network->datagramsDropped;
        snapshot.senders = run.network->senders;
        snapshot.droppedOtherSender = run.network->datagramsOtherSender;
        snapshot.droppedNotAllowed = run.network->datagramsNotAllowed;
    }
}

}  // namespace iqfeeder
