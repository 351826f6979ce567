#include "app/StreamRunner.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/StreamInput.h"
#include "stream/LivePositionControl.h"

namespace iqfeeder {
namespace {

// A pass buffer whose tail a short read left untouched: cleared, so stale memory never goes on
// air.
void clearTail(std::uint8_t* buffer, std::size_t delivered, std::size_t size) {
    std::memset(buffer + delivered, 0, size - delivered);
}

}  // namespace

int StreamRunner::run(const RunOptions& options) {
    state_ = RunState{};
    state_.inputPath = options.inputPath;
    if (options.repeat) {
        state_.repeating = true;
        state_.repeatCount = *options.repeat;
    }
    device_.listDevices();
    device_.openDevice(options.device);
    state_.bufferSize = kInitialBufferSize;
    console_.print("Input file is %s\n", state_.inputPath.c_str());
    console_.print("Sending IQ data to FTDI USB device.....\n\n");
    if (isStreamPath(state_.inputPath)) {
        return runStream();
    }
    state_.readPosition = 0;

    while (state_.readPosition < state_.positionCap && !stopping()) {
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

std::int64_t StreamRunner::measure(InputFile& file) const {
    return std::min(file.measure(), state_.sizeLimit);
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
    state_.fileSize = measure(file);
    if (state_.fileSize == state_.probeSize) {
        state_.isRecorded = true;
    } else {
        state_.readPosition = state_.fileSize - kInitialBufferSize;
        file.seekTo(state_.readPosition);
        if (state_.repeating) {
            diagnostics_.print(
                "iqfeeder: %s grows, so it is followed as a live file and --repeat "
                "is ignored\n",
                state_.inputPath.c_str());
            state_.repeating = false;
        }
    }
    return PassOutcome::Continue;
}

StreamRunner::PassOutcome StreamRunner::runPass() {
    InputFile file;
    if (const PassOutcome opened = openInput(file); opened != PassOutcome::Continue) {
        return opened;
    }
    state_.fileSize = measure(file);
    state_.probeSize = state_.fileSize;

    // A repeated recording never probes again, even back at its start.
    if (state_.readPosition != 0 || (state_.isRecorded && state_.repeating)) {
        file.seekTo(state_.readPosition);
    } else if (const PassOutcome probed = probe(file); probed != PassOutcome::Continue) {
        return probed;
    }

    if (state_.isRecorded && state_.repeating) {
        return runRepeatPass(file);
    }
    if (state_.isRecorded) {
        console_.print("Using pre-recorded file, Sent %lld of %lldKB\r",
                       static_cast<long long>(state_.readPosition / 1000),
                       static_cast<long long>(state_.fileSize / 1000));
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
    clearTail(buffer.get(), delivered, bufferSize);
    device_.sendBuffer(buffer.get(), bufferSize);
    state_.anythingSent = true;
    file.close();

    // Past the size limit the position would leave the range it is held in: held at its top,
    // it still ends the run at the cap.
    state_.readPosition = std::min(state_.readPosition + bufferSize, state_.sizeLimit);
    return PassOutcome::Continue;
}

StreamRunner::PassOutcome StreamRunner::runRepeatPass(InputFile& file) {
    const auto sent = static_cast<long long>(state_.readPosition / 1000);
    const auto total = static_cast<long long>(state_.fileSize / 1000);
    const auto repetition = static_cast<unsigned long long>(state_.repetition);
    if (state_.repeatCount == 0) {
        console_.print("Using pre-recorded file, Sent %lld of %lldKB, repetition %llu\r", sent,
                       total, repetition);
    } else {
        console_.print("Using pre-recorded file, Sent %lld of %lldKB, repetition %llu of %llu\r",
                       sent, total, repetition,
                       static_cast<unsigned long long>(state_.repeatCount));
    }
    if (state_.repeatsDone) {
        console_.print("File sent.\n");
        file.close();
        device_.closeDevice();
        return PassOutcome::FileSent;
    }

    // The buffer that reaches the end of the file is filled on from its start: no gap between
    // two repetitions, however short the file.
    const std::uint32_t bufferSize = state_.bufferSize;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    std::size_t delivered = 0;
    std::int64_t position = state_.readPosition;
    for (;;) {
        const std::size_t got = file.read(buffer.get() + delivered, bufferSize - delivered);
        delivered += got;
        position += static_cast<std::int64_t>(got);
        if (delivered == bufferSize && position < state_.fileSize) {
            break;
        }
        // The end of the file. After the last repetition, or one that gave nothing, there is
        // nothing more to send: never spin on a file that was emptied.
        const bool lastOne = state_.repeatCount != 0 && state_.repetition >= state_.repeatCount;
        if (lastOne || position == 0) {
            state_.repeatsDone = true;
            break;
        }
        // Measured again at every wrap, as the file may have been cut or regrown.
        state_.fileSize = measure(file);
        ++state_.repetition;
        position = 0;
        if (delivered == bufferSize) {
            break;
        }
    }
    clearTail(buffer.get(), delivered, bufferSize);
    if (delivered > 0) {
        device_.sendBuffer(buffer.get(), bufferSize);
        state_.anythingSent = true;
    }
    file.close();
    state_.readPosition = position;
    return PassOutcome::Continue;
}

int StreamRunner::runStream() {
    StreamInput input;
    if (!input.open(state_.inputPath)) {
        console_.print("Error opening %s, Check file exists!\n", state_.inputPath.c_str());
        diagnostics_.print("iqfeeder: %s: %s\n", state_.inputPath.c_str(),
                           input.errorText().c_str());
        device_.closeDevice();
        return 1;
    }
    if (state_.inputPath != "-") {
        console_.print("Waiting for a writer on %s.....\n", state_.inputPath.c_str());
    }
    const std::uint32_t bufferSize = state_.bufferSize;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const auto stop = [this] { return stopping(); };
    std::int64_t total = 0;
    while (!stopping()) {
        std::size_t delivered = 0;
        const StreamInput::ReadStatus status =
            input.read(buffer.get(), bufferSize, delivered, stop);
        if (status == StreamInput::ReadStatus::Stopped) {
            break;
        }
        if (delivered > 0) {
            total += static_cast<std::int64_t>(delivered);
            console_.print("Using input stream, Read %lldKB\r",
                           static_cast<long long>(total / 1000));
            clearTail(buffer.get(), delivered, bufferSize);
            device_.sendBuffer(buffer.get(), bufferSize);
        }
        if (status == StreamInput::ReadStatus::Ended) {
            console_.print("Input stream ended after %lld bytes.\n", static_cast<long long>(total));
            break;
        }
        if (status == StreamInput::ReadStatus::Failed) {
            console_.print("Error reading %s!\n", state_.inputPath.c_str());
            diagnostics_.print("iqfeeder: %s: %s\n", state_.inputPath.c_str(),
                               input.errorText().c_str());
            device_.closeDevice();
            return 1;
        }
    }
    device_.closeDevice();
    return 0;
}

}  // namespace iqfeeder
