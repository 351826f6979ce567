#include "app/StreamRunner.h"

#include <limits>

#include "common/ConsoleLines.h"
#include "stream/InputKinds.h"
#include "stream/RunState.h"

namespace iqfeeder {
namespace {

// The room a pass is given: the largest buffer an input fills, a live file's once raised.
constexpr std::uint32_t kLargestBuffer = 2 * kInitialBufferSize;

}  // namespace

int StreamRunner::run(const RunOptions& options) {
    statistics_.reset();
    lastReconnectMs_.reset();
    counts_ = {};
    device_.setReconnecting(options.reconnect);
    // Unattended runs: a chip that stops taking data must not hold the run for ever.
    device_.setWriteTimeout(options.reconnect || options.live ? kUnattendedWriteTimeoutMs : 0);
    device_.listDevices();
    device_.openDevice(options.device);
    console_.print(lines::kInputFileIs, options.inputPath.c_str());
    console_.print("%s", lines::kSending);
    tickMetrics();
    if (options.stats || observer_ != nullptr) {
        statistics_.emplace(diagnostics_, now(),
                            RunStatistics::Settings{options.stats, options.statsSeconds * 1000ULL,
                                                    observer_, options.inputPath});
    }
    std::unique_ptr<InputKind> input = chooseInput(options);
    // Ready only once the input is: a port that can't be bound ends the run before it.
    int status = 1;
    if (input->prepare()) {
        if (observer_ != nullptr) {
            observer_->started();
        }
        status = loop(std::move(input));
    } else {
        closeDevice();
    }
    if (statistics_ && options.stats) {
        statistics_->summary(now(), device_.counters());
    }
    if (metrics_ != nullptr) {
        metrics_->finish(now(), device_, counts_);
    }
    return status;
}

std::unique_ptr<InputKind> StreamRunner::chooseInput(const RunOptions& options) {
    const InputSeams seams{console_,
                           diagnostics_,
                           sleep_,
                           stopRequested_,
                           [this] { afterPass(nullptr); },
                           [this](const NetworkFigures& figures) { afterPass(nullptr, &figures); }};
    KindRequest request;
    request.path = options.inputPath;
    request.network = options.network ? &*options.network : nullptr;
    if (options.unlimited) {
        request.limits.sizeLimit = std::numeric_limits<std::int64_t>::max();
        request.limits.positionCap = std::numeric_limits<std::int64_t>::max();
    }
    request.live.repeat = options.repeat;
    // Every file starts with the probe, which tells a recording from a live file, unless it is
    // to be live whatever it does.
    request.live.probe = !options.live;
    request.networkSettings.sayEvents = options.stats || options.progressSeconds.has_value();
    return chooseInputKind(seams, request);
}

int StreamRunner::loop(std::unique_ptr<InputKind> input) {
    int status = 0;
    bool ended = false;
    while (!ended && !stopping()) {
        if (device_.lost()) {
            if (input->waitsForDevice()) {
                waitForDevice();
                continue;
            }
            (void)deviceBack();
        }
        // The input reads straight into the ring's room: no copy on the way to the driver.
        Pass pass = input->next(device_.room(kLargestBuffer));
        switch (pass.outcome) {
            case Pass::Outcome::Send:
                counts_.inputBytes += pass.delivered;
                send(pass.data, pass.size);
                afterPass(pass.live ? &*pass.live : nullptr,
                          pass.network ? &*pass.network : nullptr);
                break;
            case Pass::Outcome::Skip:
            case Pass::Outcome::Stopped:
                break;
            case Pass::Outcome::Pause:
                if (observer_ != nullptr && !pass.status.empty()) {
                    observer_->status(pass.status);
                }
                pause(kReopenWaitMs);
                tickMetrics();
                break;
            case Pass::Outcome::Handover:
                input = std::move(pass.successor);
                break;
            case Pass::Outcome::CapReached:
                diagnostics_.print(
                    "iqfeeder: the read position reached %lld bytes, where a run ends; "
                    "--unlimited follows a file past it\n",
                    static_cast<long long>(kPositionCap));
                ended = true;
                break;
            case Pass::Outcome::Ended:
                ended = true;
                break;
            case Pass::Outcome::Refused:
                status = 1;
                ended = true;
                break;
        }
    }
    closeDevice();
    return status;
}

void StreamRunner::send(std::uint8_t* buffer, std::uint32_t size) {
    const SendResult result = device_.sendBuffer(buffer, size);
    if (result.failed && result.unsent > 0 && !stopping()) {
        pause(result.unsent / kNominalBytesPerMs);
    }
}

void StreamRunner::closeDevice() {
    device_.closeDevice();
    // The last slices, if the device went with them, go out once it is back.
    while (device_.lost() && device_.holdsUnsent() && !stopping()) {
        waitForDevice();
        device_.closeDevice();
    }
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
        afterPass(nullptr);
        const std::uint64_t since = now() - lastReconnectMs_.value_or(0);
        pause(static_cast<std::uint32_t>(since < kReconnectEveryMs ? kReconnectEveryMs - since
                                                                   : kReconnectEveryMs));
    }
}

void StreamRunner::countForMetrics(const LiveFigures* live, const NetworkFigures* network) {
    if (network != nullptr) {
        counts_.network = *network;
    }
    if (live != nullptr) {
        counts_.liveBacklog = live->backlog;
        counts_.stepBacks += live->steppedBack ? 1 : 0;
        counts_.jumps += live->jumped ? 1 : 0;
        counts_.bytesSkipped += static_cast<std::uint64_t>(live->bytesSkipped);
    }
}

void StreamRunner::afterPass(const LiveFigures* live, const NetworkFigures* network) {
    if (metrics_ != nullptr) {
        countForMetrics(live, network);
        tickMetrics();
    }
    if (!statistics_) {
        return;
    }
    if (network != nullptr) {
        statistics_->noteNetwork(*network);
    }
    if (live != nullptr && live->steppedBack) {
        statistics_->countStepBack();
    }
    if (live != nullptr && live->jumped) {
        statistics_->countJump();
    }
    statistics_->update(now(), device_.counters(), live, device_.lost());
}

}  // namespace iqfeeder
