#include "app/ServiceMonitor.h"

#include <algorithm>

namespace iqfeeder {

void ServiceMonitor::started() {
    if (!ready_) {
        ready_ = true;
        notifier_.notify("READY=1");
    }
    keepAlive();
}

void ServiceMonitor::status(const std::string& text) {
    keepAlive();
    const std::uint64_t nowMs = clock_();
    if (stopping_ || text == lastStatus_ ||
        (statusSaid_ && nowMs - lastStatusMs_ < kStatusEveryMs)) {
        return;
    }
    statusSaid_ = true;
    lastStatusMs_ = nowMs;
    lastStatus_ = text;
    // One line: a new line in it (a path may hold one) would start another of the manager's
    // fields, such as READY=1.
    std::string line = "STATUS=" + text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    notifier_.notify(line);
}

void ServiceMonitor::keepAlive() {
    if (watchdogMs_ == 0) {
        return;
    }
    const std::uint64_t nowMs = clock_();
    if (aliveSaid_ && nowMs - lastAliveMs_ < watchdogMs_ / 2) {
        return;
    }
    aliveSaid_ = true;
    lastAliveMs_ = nowMs;
    notifier_.notify("WATCHDOG=1");
}

void ServiceMonitor::stopping() {
    if (!stopping_) {
        stopping_ = true;
        notifier_.stopping();
    }
}

ServiceMonitor::StopQuery ServiceMonitor::watch(StopQuery stopRequested) {
    return [this, stopRequested = std::move(stopRequested)] {
        keepAlive();
        if (!stopRequested()) {
            return false;
        }
        stopping();
        return true;
    };
}

ServiceMonitor::Sleep ServiceMonitor::watch(Sleep sleep) {
    std::uint32_t slice = kLongestSliceMs;
    if (watchdogMs_ > 0) {
        slice = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(watchdogMs_ / 4, 1, slice));
    }
    return [this, slice, sleep = std::move(sleep)](std::uint32_t milliseconds) {
        keepAlive();
        while (milliseconds > 0) {
            const std::uint32_t part = std::min(milliseconds, slice);
            sleep(part);
            milliseconds -= part;
            keepAlive();
        }
    };
}

}  // namespace iqfeeder
