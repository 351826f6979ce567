#include "app/RunStatistics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "app/RunSummary.h"

namespace iqfeeder {
namespace {

double perSecond(double amount, std::uint64_t ms) {
    return ms > 0 ? amount * 1000.0 / static_cast<double>(ms) : 0.0;
}

// The rates differ by more than this share before the advice speaks.
constexpr double kTolerance = 0.01;

}  // namespace

void RunStatistics::update(std::uint64_t nowMs, const DeviceCounters& device,
                           const LiveFigures* live, bool deviceLost) {
    const std::uint64_t lastMs = samples_.empty() ? startMs_ : samples_.back().atMs;
    if (nowMs < lastMs + kLineEveryMs) {
        return;
    }
    Sample sample{nowMs, device.bytesAccepted, std::nullopt,
                  network_ ? network_->bytesReceived : 0};
    if (live != nullptr) {
        sample.live = *live;
    }
    const std::uint64_t lastBytes = samples_.empty() ? 0 : samples_.back().deviceBytes;
    const double deviceRate =
        perSecond(static_cast<double>(device.bytesAccepted - lastBytes), nowMs - lastMs);
    const double averageRate =
        perSecond(static_cast<double>(device.bytesAccepted), nowMs - startMs_);

    std::array<char, 96> liveText{};
    std::string status = "sending " + settings_.inputPath + ": device " + formatRate(deviceRate);
    if (sample.live) {
        const bool grew = !samples_.empty() && samples_.back().live &&
                          sample.live->fileSize >= samples_.back().live->fileSize;
        const std::string encoder =
            grew ? formatRate(perSecond(
                       static_cast<double>(sample.live->fileSize - samples_.back().live->fileSize),
                       nowMs - lastMs))
                 : std::string("-");
        if (deviceRate > 0) {
            (void)std::snprintf(liveText.data(), liveText.size(), "; encoder %s, backlog %.2f s",
                                encoder.c_str(),
                                static_cast<double>(sample.live->backlog) / deviceRate);
        } else {
            (void)std::snprintf(liveText.data(), liveText.size(), "; encoder %s, backlog -",
                                encoder.c_str());
        }
        status = "streaming " + settings_.inputPath + ": device " + formatRate(deviceRate) + ", " +
                 std::string(liveText.data() + 2);
    }
    if (network_) {
        const std::uint64_t lastNetwork = samples_.empty() ? 0 : samples_.back().networkBytes;
        const std::string text = networkText(
            perSecond(static_cast<double>(sample.networkBytes - lastNetwork), nowMs - lastMs));
        (void)std::snprintf(liveText.data(), liveText.size(), "%s", text.c_str());
        status += text;
    }
    if (settings_.printLines && (!lastLineMs_ || nowMs >= *lastLineMs_ + settings_.printEveryMs)) {
        lastLineMs_ = nowMs;
        printCounts("iqfeeder: device", device, deviceRate, averageRate, liveText.data());
    }
    if (settings_.observer != nullptr) {
        settings_.observer->status(deviceLost ? "device lost, looking for it" : status);
    }

    samples_.push_back(sample);
    while (samples_.size() > 1 && samples_[1].atMs + kAdviceWindowMs <= nowMs) {
        samples_.pop_front();
    }
    advise(sample);
}

void RunStatistics::advise(const Sample& now) {
    const Sample& then = samples_.front();
    // A whole window of a live file that only grew, with the device taking data.
    if (!now.live || !then.live || now.atMs < then.atMs + kAdviceWindowMs ||
        now.live->fileSize < then.live->fileSize || now.deviceBytes == then.deviceBytes) {
        return;
    }
    if (std::any_of(samples_.begin(), samples_.end(),
                    [](const Sample& sample) { return !sample.live; })) {
        return;
    }
    const std::uint64_t span = now.atMs - then.atMs;
    const double encoder =
        perSecond(static_cast<double>(now.live->fileSize - then.live->fileSize), span);
    const double device = perSecond(static_cast<double>(now.deviceBytes - then.deviceBytes), span);
    const double difference = (encoder - device) / device;
    Verdict verdict = Verdict::None;
    if (difference < -kTolerance) {
        verdict = Verdict::EncoderSlower;
    } else if (difference > kTolerance) {
        verdict = Verdict::EncoderFaster;
    }
    if (verdict == verdict_) {
        return;
    }
    verdict_ = verdict;
    if (verdict == Verdict::None || !settings_.printLines) {
        return;
    }
    const bool slower = verdict == Verdict::EncoderSlower;
    out_.print(
        "iqfeeder: over the last %.0f s the encoder was %.1f %% %s than the device (%s "
        "against %s): the reader will keep %s; %s the encoder's rate to the device's, or "
        "%s the device's\n",
        static_cast<double>(span) / 1000.0, std::fabs(difference) * 100.0,
        slower ? "slower" : "faster", formatRate(encoder).c_str(), formatRate(device).c_str(),
        slower ? "stepping back and sending data again" : "jumping ahead and dropping data",
        slower ? "raise" : "lower", slower ? "lower" : "raise");
}

std::string RunStatistics::networkText(double rate) const {
    if (!network_) {
        return "";
    }
    std::string text = "; network " + formatRate(rate);
    if (network_->dropsCounted) {
        text += ", datagrams dropped " + std::to_string(network_->datagramsDropped);
    }
    if (network_->srt) {
        text += ", SRT packets lost " + std::to_string(network_->packetsLost) + ", retransmitted " +
                std::to_string(network_->packetsRetransmitted);
    }
    if (network_->refused != 0) {
        text += ", refused " + std::to_string(network_->refused);
    }
    return text;
}

void RunStatistics::printCounts(const char* lead, const DeviceCounters& device, double deviceRate,
                                double averageRate, const char* liveText) const {
    out_.print(
        "%s %s (average %s)%s; step-backs %llu, jump-aheads %llu, failed writes %llu, "
        "short writes %llu, reconnects %llu\n",
        lead, formatRate(deviceRate).c_str(), formatRate(averageRate).c_str(), liveText,
        static_cast<unsigned long long>(stepBacks_), static_cast<unsigned long long>(jumps_),
        static_cast<unsigned long long>(device.failedWrites),
        static_cast<unsigned long long>(device.shortWrites),
        static_cast<unsigned long long>(device.reconnects));
}

void RunStatistics::summary(std::uint64_t nowMs, const DeviceCounters& device) const {
    std::array<char, 96> lead{};
    (void)std::snprintf(lead.data(), lead.size(), "iqfeeder: in all, %llu bytes in %.1f s: device",
                        static_cast<unsigned long long>(device.bytesAccepted),
                        static_cast<double>(nowMs - startMs_) / 1000.0);
    const double average = perSecond(static_cast<double>(device.bytesAccepted), nowMs - startMs_);
    const std::string network = networkText(
        network_ ? perSecond(static_cast<double>(network_->bytesReceived), nowMs - startMs_) : 0.0);
    printCounts(lead.data(), device, average, average, network.c_str());
}

}  // namespace iqfeeder
