#include "app/ServiceNotifier.h"

#include <cstdlib>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#endif

namespace iqfeeder {

#ifdef _WIN32

// No service manager listens on Windows.
std::unique_ptr<ServiceNotifier> serviceNotifierFor(const ServiceEnvironment&,
                                                    std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    return nullptr;
}

std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    return nullptr;
}

#else
namespace {

// One datagram per message, as the manager reads them. It never waits: a manager too busy to
// take a message costs that message, never air time. Nor is an error examined: a manager that
// stopped listening can't be helped, and the run goes on.
class SocketNotifier : public ServiceNotifier {
  public:
    SocketNotifier(int fd, const sockaddr_un& address, socklen_t length)
        : fd_(fd), address_(address), length_(length) {}
    ~SocketNotifier() override { ::close(fd_); }
    SocketNotifier(const SocketNotifier&) = delete;
    SocketNotifier& operator=(const SocketNotifier&) = delete;

    void notify(const std::string& message) override { send(message.data(), message.size()); }
    // sendto is async-signal-safe, and so is the exchange.
    void stopping() override {
        static constexpr char kStopping[] = "STOPPING=1";
        if (!stoppingSaid_.exchange(true)) {
            send(kStopping, sizeof kStopping - 1);
        }
    }

  private:
    void send(const char* data, std::size_t size) const {
        const auto* to = reinterpret_cast<const sockaddr*>(&address_);
        while (::sendto(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT, to, length_) < 0 &&
               errno == EINTR) {
        }
    }

    int fd_;
    sockaddr_un address_;
    socklen_t length_;
    std::atomic<bool> stoppingSaid_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");
};

// WATCHDOG_USEC as a whole positive number of microseconds, else 0 (no watchdog).
std::uint64_t watchdogMicroseconds(const char* text) {
    if (text == nullptr || *text < '0' || *text > '9') {
        return 0;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' ? value : 0;
}

bool watchesUs(const ServiceEnvironment& environment) {
    if (environment.watchdogPid == nullptr) {
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const long long pid = std::strtoll(environment.watchdogPid, &end, 10);
    return errno == 0 && end != environment.watchdogPid && *end == '\0' &&
           pid == environment.ownPid;
}

}  // namespace

std::unique_ptr<ServiceNotifier> serviceNotifierFor(const ServiceEnvironment& environment,
                                                    std::uint64_t& watchdogMs) {
    watchdogMs = 0;
    const char* name = environment.notifySocket;
    // A path, or an abstract name after "@"; anything else (a VSOCK address) is not for us.
    if (name == nullptr || (name[0] != '/' && name[0] != '@') || name[1] == '\0') {
        return nullptr;
    }
    sockaddr_un address{};
    const std::size_t length = std::strlen(name);
    if (length > sizeof address.sun_path) {
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name, length);
    if (name[0] == '@') {
        address.sun_path[0] = '\0';
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (const std::uint64_t us = watchdogMicroseconds(environment.watchdogUsec);
        us > 0 && watchesUs(environment)) {
        watchdogMs = us < 1000 ? 1 : us / 1000;
    }
    return std::make_unique<SocketNotifier>(
        fd, address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
}

std::unique_ptr<ServiceNotifier> serviceManagerNotifier(std::uint64_t& watchdogMs) {
    ServiceEnvironment environment;
    environment.notifySocket = std::getenv("NOTIFY_SOCKET");
    environment.watchdogUsec = std::getenv("WATCHDOG_USEC");
    environment.watchdogPid = std::getenv("WATCHDOG_PID");
    environment.ownPid = static_cast<long long>(::getpid());
    return serviceNotifierFor(environment, watchdogMs);
}

#endif

}  // namespace iqfeeder
