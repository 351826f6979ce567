#include "app/StreamRunner.h"

#include <algorithm>
#include <cstring>
#include <limits>
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
    if (options.unlimited) {
        state_.sizeLimit = std::numeric_limits<std::int64_t>::max();
        state_.positionCap = std::numeric_limits<std::int64_t>::max();
    }
    statistics_.reset();
    lastReconnectMs_.reset();
    lastOpenError_.clear();
    device_.setReconnecting(options.reconnect);
    device_.listDevices();
    device_.openDevice(options.device);
    state_.bufferSize = kInitialBufferSize;
    console_.print("Input file is %s\n", state_.inputPath.c_str());
    console_.print("Sending IQ data to FTDI USB device.....\n\n");
    if (options.stats) {
        statistics_.emplace(diagnostics_, now());
    }
    const int status = options.network                  ? runNetwork(*options.network)
                       : isStreamPath(state_.inputPath) ? runStream()
                                                        : runFile();
    if (statistics_) {
        statistics_->summary(now(), device_.counters());
    }
    return status;
}

int StreamRunner::runFile() {
    state_.readPosition = 0;
    while (state_.readPosition < state_.positionCap && !stopping()) {
        if (device_.lost()) {
            // A recording waits where it is, so nothing of it is skipped; a live file is still
            // followed, so the device comes back near its end.
            if (state_.isRecorded) {
                waitForDevice();
                continue;
            }
            (void)deviceBack();
        }
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
    if (state_.readPosition >= state_.positionCap) {
        diagnostics_.print(
            "iqfeeder: the read position reached %lld bytes, where a run ends; "
            "--unlimited follows a file past it\n",
            static_cast<long long>(state_.positionCap));
    }
    device_.closeDevice();
    return 0;
}

SendResult StreamRunner::send(std::uint8_t* buffer, std::uint32_t size) {
    const SendResult result = device_.sendBuffer(buffer, size);
    if (result.failed && !stopping()) {
        sleep_((size - result.offered) / kNominalBytesPerMs);
    }
    return result;
}

bool StreamRunner::deviceBack() {
    if (!device_.lost()) {
        return true;
    }
    const std::uint64_t at = now();
    if (clock_ && lastReconnectMs_ && at - *lastReconnectMs_ < kReconnectEveryMs) {
        return false;
    }
    lastReconnectMs_ = at;
    return device_.reconnect();
}

void StreamRunner::waitForDevice() {
    while (!stopping() && !deviceBack()) {
        updateStatistics(nullptr);
        const std::uint64_t since = now() - lastReconnectMs_.value_or(0);
        sleep_(static_cast<std::uint32_t>(since < kReconnectEveryMs ? kReconnectEveryMs - since
                                                                    : kReconnectEveryMs));
    }
}

void StreamRunner::updateStatistics(const LiveFigures* live) {
    if (statistics_) {
        statistics_->update(now(), device_.counters(), live);
    }
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
    sayCannotOpen(file.openErrorText());
    // Once streaming, a missing file is most likely a producer replacing it: wait and retry.
    return state_.anythingSent ? PassOutcome::RetryAfterPause : PassOutcome::InputRefused;
}

void StreamRunner::sayCannotOpen(const std::string& why) {
    console_.print("Error opening %s, Check file exists!\n", state_.inputPath.c_str());
    if (why != lastOpenError_) {
        diagnostics_.print("iqfeeder: %s: %s\n", state_.inputPath.c_str(), why.c_str());
        lastOpenError_ = why;
    }
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

    // A recording never probes again, even back at its start (repeated, or resumed there).
    if (state_.readPosition != 0 || state_.isRecorded) {
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
        const LiveAdjustment adjustment = adjustLivePosition(state_, file, console_);
        if (statistics_ && adjustment.steppedBack) {
            statistics_->countStepBack();
        }
        if (statistics_ && adjustment.jumped) {
            statistics_->countJump();
        }
    }

    const std::uint32_t bufferSize = state_.bufferSize;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const std::size_t delivered = file.read(buffer.get(), bufferSize);
    clearTail(buffer.get(), delivered, bufferSize);
    const SendResult sent = send(buffer.get(), bufferSize);
    state_.anythingSent = true;
    file.close();

    if (sent.lost && state_.isRecorded) {
        // Resumed where the device stopped, two slices early: a driver that keeps two writes
        // in flight tells of a failed one up to two slices late, and nothing of a recording may
        // be skipped.
        state_.readPosition = std::max<std::int64_t>(
            0, state_.readPosition + sent.offered - 2 * static_cast<std::int64_t>(bufferSize / 5));
        return PassOutcome::Continue;
    }
    const LiveFigures figures{state_.fileSize, state_.fileSize - state_.readPosition};
    // Past the size limit the position would leave the range it is held in: held at its top,
    // it still ends the run at the cap.
    state_.readPosition = std::min(state_.readPosition + bufferSize, state_.sizeLimit);
    updateStatistics(state_.isRecorded ? nullptr : &figures);
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
    const std::int64_t startLength = state_.fileSize;
    const std::uint64_t startRepetition = state_.repetition;
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
    const SendResult result = delivered > 0 ? send(buffer.get(), bufferSize) : SendResult{};
    state_.anythingSent = state_.anythingSent || delivered > 0;
    file.close();
    if (result.lost) {
        // The whole buffer again once the device is back: nothing of it is skipped.
        state_.fileSize = startLength;
        state_.repetition = startRepetition;
        state_.repeatsDone = false;
        return PassOutcome::Continue;
    }
    state_.readPosition = position;
    updateStatistics(nullptr);
    return PassOutcome::Continue;
}

int StreamRunner::runStream() {
    StreamInput input;
    if (!input.open(state_.inputPath)) {
        sayCannotOpen(input.errorText());
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
        // Not read while the device is gone: the writer waits on the full pipe, as for a slow
        // device.
        if (device_.lost()) {
            waitForDevice();
            continue;
        }
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
            // Sent again whole once a lost device is back: a stream can't be read again.
            while (send(buffer.get(), bufferSize).lost && !stopping()) {
                waitForDevice();
            }
            updateStatistics(nullptr);
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
