// The service manager's notification socket (systemd's NOTIFY_SOCKET), as a seam: the monitor
// hands it "READY=1", "STATUS=...", "WATCHDOG=1" and "STOPPING=1".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace iqfeeder {

class ServiceNotifier {
  public:
    virtual ~ServiceNotifier() = default;
    virtual void notify(const std::string& message) = 0;
};

// The service manager's socket, when the program runs under one that listens (NOTIFY_SOCKET) and
// the build has libsystemd; null otherwise, and on Windows. `watchdogMs` gets the interval within
// which the manager wants to hear "WATCHDOG=1", 0 when it does not watch.
std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs);

}  // namespace iqfeeder
