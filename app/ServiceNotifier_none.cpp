#include "app/ServiceNotifier.h"

namespace iqfeeder {

// A build without libsystemd, or for Windows: no service manager is told anything.
std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    return nullptr;
}

}  // namespace iqfeeder
