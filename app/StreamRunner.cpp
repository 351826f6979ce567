#include "app/StreamRunner.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "stream/LivePositionControl.h"

namespace iqfeeder {

int StreamRunner::run(const RunOptions& options) {
    state_ = RunState{};
    state_.inputPath = options.inputPath;
    device_.listDevices();
    device_.openDevice(options.device);
    state_.bufferSize = kInitialBufferSize;
    console_.print("Input file is %s\n", state_.inputPath.c_str());
    console_.print("Sending IQ data to FTDI USB device.....\n\n");
    state_.readPosition = 0;

    while (state_.readPosition < kPositionCap && !stopping()) {
        switch (runPass()) {
            case PassOutcome::Continue:
                break;
            case PassOutcome::RetryAfterPause:
                sleep_(kReopenWaitMs);
                break;
            case PassOutcome::FileSent:
                return 0;
            case PassOutcome::Stopped:
                break;
            case PassOutcome::InputRefused:
                device_.closeDevice();
                return 1;
        }
    }
    device_.closeDevice();
    return 0;
}

StreamRunner::PassOutcome StreamRunner::openInput(InputFile& file) {
    switch (file.open(state_.inputPath)) {
        case InputFile::OpenStatus::Opened:
            return PassOutcome::Continue;
        case InputFile::OpenStatus::NotRegularFile:
            console_.print("Error opening %s, not a regular file!\n", state_.inputPath.c_str());
            return PassOutcome::InputRefused;
        case InputFile::OpenStatus::CannotOpen:
            break;
    }
    console_.print("Error opening %s, Check file exists!\n", state_.inputPath.c_str());
    if (const std::string why = file.openErrorText(); why != lastOpenError_) {
        diagnostics_.print("iqfeeder: %s: %s\n", state_.inputPath.c_str(), why.c_str());
        lastOpenError_ = why;
    }
    // Once streaming, a missing file is most likely a producer replacing it: wait and retry.
    return state_.anythingSent ? PassOutcome::RetryAfterPause : PassOutcome::InputRefused;
}

StreamRunner::PassOutcome StreamRunner::probe(InputFile& file) {
    file.close();
    console_.print("Checking if it's a recorded file or live stream.....\n");
    sleep_(kProbeWaitMs);
    if (stopping()) {
        return PassOutcome::Stopped;
    }
    if (const PassOutcome opened = openInput(file); opened != PassOutcome::Continue) {
        return opened;
    }
    state_.fileSize = file.measure();
    if (state_.fileSize == state_.probeSize) {
        state_.isRecorded = true;
    } else {
        state_.readPosition =
            static_cast<std::int32_t>(static_cast<std::int64_t>(state_.fileSize) -
                                      static_cast<std::int64_t>(kInitialBufferSize));
        file.seekTo(state_.readPosition);
    }
    return PassOutcome::Continue;
}

StreamRunner::PassOutcome StreamRunner::runPass() {
    InputFile file;
    if (const PassOutcome opened = openInput(file); opened != PassOutcome::Continue) {
        return opened;
    }
    state_.fileSize = file.measure();
    state_.probeSize = state_.fileSize;

    if (state_.readPosition != 0) {
        file.seekTo(state_.readPosition);
    } else if (const PassOutcome probed = probe(file); probed != PassOutcome::Continue) {
        return probed;
    }

    if (state_.isRecorded) {
        console_.print("Using pre-recorded file, Sent %i of %iKB\r", state_.readPosition / 1000,
                       state_.fileSize / 1000);
        if (state_.readPosition > state_.fileSize) {
            console_.print("File sent.\n");
            file.close();
            device_.closeDevice();
            return PassOutcome::FileSent;
        }
    } else {
        adjustLivePosition(state_, file, console_);
    }

    const std::uint32_t bufferSize = state_.bufferSize;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const std::size_t delivered = file.read(buffer.get(), bufferSize);
    // Only the tail a short read left untouched is cleared; stale memory never goes on air.
    std::memset(buffer.get() + delivered, 0, bufferSize - delivered);
    device_.sendBuffer(buffer.get(), bufferSize);
    state_.anythingSent = true;
    file.close();

    // Past 2^31 - 1 the position would wrap negative and the run go on past the cap; held at
    // the largest value it still ends there.
    state_.readPosition = static_cast<std::int32_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(state_.readPosition) + bufferSize,
                               std::numeric_limits<std::int32_t>::max()));
    return PassOutcome::Continue;
}

}  // namespace iqfeeder
