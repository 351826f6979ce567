#include "stream/LiveFileKind.h"

#include <algorithm>
#include <memory>

#include "common/ConsoleLines.h"
#include "stream/LivePositionControl.h"
#include "stream/RecordingKind.h"

namespace iqfeeder {

Pass LiveFileKind::next(std::span<std::uint8_t> room) {
    source_.room = room;
    RunState& state = source_.state;
    // A live file always has more coming: the cap line says what was left.
    if (std::optional<Pass> capped = source_.capReached(true)) {
        return std::move(*capped);
    }
    InputFile file;
    if (std::optional<Pass> failed = open(file)) {
        return std::move(*failed);
    }
    state.fileSize = source_.measure(file);
    state.probeSize = state.fileSize;
    if (!options_.probe) {
        if (std::optional<Pass> waiting = startLive(file)) {
            return std::move(*waiting);
        }
    } else if (state.readPosition != 0) {
        file.seekTo(state.readPosition);
    } else if (std::optional<Pass> probed = probe(file)) {
        return std::move(*probed);
    }

    const LiveAdjustment adjustment = adjustLivePosition(state, file, source_.seams.console);
    if (!options_.probe) {
        holdAboveLiveFloor(state, wait_, file);
    }
    const LiveFigures figures{state.fileSize, state.fileSize - state.readPosition,
                              adjustment.steppedBack, adjustment.jumped, adjustment.bytesSkipped};
    Pass pass = source_.readAndSend(file, state.bufferSize);
    if (pass.outcome == Pass::Outcome::Send) {
        pass.live = figures;
        // Past the size limit the position would leave the range it is held in: held at its
        // top, it still ends the run at the cap.
        state.readPosition =
            std::min(state.readPosition + state.bufferSize, source_.limits.sizeLimit);
    }
    return pass;
}

std::optional<Pass> LiveFileKind::open(InputFile& file) {
    const bool waitWhenMissing = !options_.probe;
    const std::optional<Pass::Outcome> failed = source_.open(file, waitWhenMissing);
    if (!failed) {
        return std::nullopt;
    }
    Pass pass{*failed};
    if (waitWhenMissing && *failed == Pass::Outcome::Pause) {
        waitForLiveFile(source_.state, wait_, source_.seams.console);
        pass.status = "waiting for " + source_.state.inputPath + " to be created";
    }
    return pass;
}

std::optional<Pass> LiveFileKind::startLive(InputFile& file) {
    if (startLivePass(source_.state, wait_, file, source_.seams.console) == LiveStart::Follow) {
        return std::nullopt;
    }
    Pass pass{Pass::Outcome::Pause};
    pass.status = "waiting for " + source_.state.inputPath + " to grow";
    return pass;
}

void LiveFileKind::startBehindTheEnd(InputFile& file) {
    RunState& state = source_.state;
    state.readPosition = state.fileSize - kInitialBufferSize;
    file.seekTo(state.readPosition);
}

std::optional<Pass> LiveFileKind::probe(InputFile& file) {
    RunState& state = source_.state;
    file.close();
    source_.seams.console.print("%s", lines::kProbing);
    source_.seams.sleep(kProbeWaitMs);
    if (source_.stopping()) {
        return Pass{Pass::Outcome::Stopped};
    }
    if (const auto failed = source_.open(file)) {
        return Pass{*failed};
    }
    state.fileSize = source_.measure(file);
    if (state.fileSize == state.probeSize) {
        state.isRecorded = true;
        file.close();
        Pass pass{Pass::Outcome::Handover};
        pass.successor = std::make_unique<RecordingKind>(std::move(source_), options_.repeat);
        return pass;
    }
    startBehindTheEnd(file);
    if (options_.repeat) {
        source_.seams.diagnostics.print(
            "iqfeeder: %s grows, so it is followed as a live file and --repeat is ignored\n",
            state.inputPath.c_str());
        options_.repeat.reset();
    }
    return std::nullopt;
}

}  // namespace iqfeeder
