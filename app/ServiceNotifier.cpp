#include "app/ServiceNotifier.h"

#ifdef IQFEEDER_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>

#include <cstdlib>
#endif

namespace iqfeeder {

#ifdef IQFEEDER_HAVE_SYSTEMD
namespace {

class SystemdNotifier : public ServiceNotifier {
  public:
    // What the socket answers is not examined: a manager that stopped listening can't be helped.
    void notify(const std::string& message) override { (void)sd_notify(0, message.c_str()); }
};

}  // namespace

std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    if (std::getenv("NOTIFY_SOCKET") == nullptr) {
        return nullptr;
    }
    // Checks WATCHDOG_PID too: a watchdog set for another process (our parent) is not ours.
    std::uint64_t watchdogUs = 0;
    if (sd_watchdog_enabled(0, &watchdogUs) > 0) {
        watchdogMs = watchdogUs / 1000;
    }
    return std::make_unique<SystemdNotifier>();
}

#else

// Built without libsystemd, or for Windows: no service manager is told anything.
std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    return nullptr;
}

#endif

}  // namespace iqfeeder
