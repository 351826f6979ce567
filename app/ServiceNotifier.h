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
    // "STOPPING=1". The socket's own says it once, and may be called from a signal handler.
    virtual void stopping() { notify("STOPPING=1"); }
};

// What the service manager's environment asks of this process: where to send, and how often to
// say it is alive.
struct ServiceEnvironment {
    const char* notifySocket = nullptr;  // NOTIFY_SOCKET: a path, or "@name" for an abstract one
    const char* watchdogUsec = nullptr;  // WATCHDOG_USEC
    const char* watchdogPid = nullptr;   // WATCHDOG_PID: the watched process, when not us
    long long ownPid = 0;
};

// A datagram socket to the manager, when the environment names one this process can address;
// null otherwise, and on Windows. `watchdogMs` gets the interval within which the manager wants
// to hear "WATCHDOG=1", 0 when it does not watch this process.
std::unique_ptr<ServiceNotifier> serviceNotifierFor(const ServiceEnvironment& environment,
                                                    std::uint64_t& watchdogMs);
// The same from this process's own environment.
std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs);

}  // namespace iqfeeder
