// The run as a service manager sees it: ready once started, a status line at most once a
// second, "alive" at half the watchdog's interval, and "stopping" on a stop. It is called from
// the run's one thread between driver calls and between slices of every wait, so a driver call
// that hangs stops the "alive" messages and the manager ends the process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/RunObserver.h"
#include "app/ServiceNotifier.h"

namespace iqfeeder {

class ServiceMonitor : public RunObserver {
  public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds, monotonic
    using Sleep = std::function<void(std::uint32_t milliseconds)>;
    using StopQuery = std::function<bool()>;
    static constexpr std::uint64_t kStatusEveryMs = 1000;
    // A wait is cut into slices at most this long, so that a stop or a watchdog is never late.
    static constexpr std::uint32_t kLongestSliceMs = 1000;

    // `watchdogMs` 0: the manager does not watch.
    ServiceMonitor(ServiceNotifier& notifier, Clock clock, std::uint64_t watchdogMs)
        : notifier_(notifier), clock_(std::move(clock)), watchdogMs_(watchdogMs) {}

    void started() override;
    // Said when a second has passed since the last status, and only when it changed.
    void status(const std::string& text) override;
    // "WATCHDOG=1" when half the watchdog's interval has passed since the last.
    void keepAlive();
    void stopping();
    // The run's stop query, alive at every call (between passes, slices and waits), and saying
    // "stopping" once it holds.
    StopQuery watch(StopQuery stopRequested);
    // The run's sleep, in slices with "alive" between them.
    Sleep watch(Sleep sleep);

  private:
    ServiceNotifier& notifier_;
    Clock clock_;
    std::uint64_t watchdogMs_;
    bool ready_ = false;
    bool stopping_ = false;
    bool statusSaid_ = false;
    std::uint64_t lastStatusMs_ = 0;
    std::string lastStatus_;
    bool aliveSaid_ = false;
    std::uint64_t lastAliveMs_ = 0;
};

}  // namespace iqfeeder
