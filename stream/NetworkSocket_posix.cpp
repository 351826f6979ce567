// The BSD socket: addresses named and looked up, streams opened, listened on, connected and
// read, and the stop-aware wait. Its datagram side is in NetworkSocketDatagrams_posix.cpp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/StopAwareWait.h"
#include "stream/NetworkSocket.h"
#include "stream/NetworkSocketNative.h"

namespace iqfeeder::net {
namespace {

using native::asSockaddr;
using native::family;
using native::setOption;
using native::view;

}  // namespace

std::string addressText(const Address& address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (family(address) == AF_INET6) {
        const auto in6 = view<sockaddr_in6>(address);
        (void)::inet_ntop(AF_INET6, &in6.sin6_addr, text.data(), text.size());
        // Appended: GCC 12 at -O3 warns (-Wrestrict) of an overlapping copy in "[" + text.
        std::string bracketed("[");
        bracketed.append(text.data()).append("]:").append(std::to_string(ntohs(in6.sin6_port)));
        return bracketed;
    }
    const auto in4 = view<sockaddr_in>(address);
    (void)::inet_ntop(AF_INET, &in4.sin_addr, text.data(), text.size());
    return std::string(text.data()) + ":" + std::to_string(ntohs(in4.sin_port));
}

bool isMulticast(const Address& address) {
    if (family(address) == AF_INET6) {
        const auto in6 = view<sockaddr_in6>(address);
        return IN6_IS_ADDR_MULTICAST(&in6.sin6_addr);
    }
    return IN_MULTICAST(ntohl(view<sockaddr_in>(address).sin_addr.s_addr));
}

bool isRefusal(int error) {
    return error == ECONNREFUSED;
}

std::vector<Address> resolve(const std::string& host, std::uint16_t port, bool datagram,
                             std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = datagram ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::vector<Address> addresses;
    if (status != 0) {
        error = status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status);
        return addresses;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        Address address;
        address.length = static_cast<std::uint32_t>(
            std::min<std::size_t>(entry->ai_addrlen, address.bytes.size()));
        std::memcpy(address.bytes.data(), entry->ai_addr, address.length);
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

void Socket::close() {
    if (valid()) {
        ::close(handle_);
        handle_ = kInvalid;
    }
}

bool Socket::open(const Address& address, bool datagram, int& error) {
    close();
    handle_ = ::socket(family(address),
                       (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    error = valid() ? 0 : errno;
    // An IPv6 address means that address alone, but "[::]" means every address, IPv4's too.
    if (valid() && family(address) == AF_INET6) {
        const auto in6 = view<sockaddr_in6>(address);
        (void)setOption(handle_, IPPROTO_IPV6, IPV6_V6ONLY,
                        IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) ? 0 : 1);
    }
    // A sender whose host vanished (a cable pulled, a crash) is found lost within some 15 s,
    // rather than waited for for ever with the next one in the backlog. Accepted connections
    // inherit it from the listener.
    if (valid() && !datagram) {
        (void)setOption(handle_, SOL_SOCKET, SO_KEEPALIVE, 1);
        (void)setOption(handle_, IPPROTO_TCP, TCP_KEEPIDLE, 5);
        (void)setOption(handle_, IPPROTO_TCP, TCP_KEEPINTVL, 2);
        (void)setOption(handle_, IPPROTO_TCP, TCP_KEEPCNT, 4);
    }
    return valid();
}

bool Socket::listenOn(const Address& address, int& error) {
    // A restarted program can listen again while its last connection lingers in TIME_WAIT.
    (void)setOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
    if (::bind(handle_, asSockaddr(address), address.length) != 0 || ::listen(handle_, 8) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool Socket::startConnect(const Address& address, int& error) {
    if (::connect(handle_, asSockaddr(address), address.length) == 0 || errno == EINPROGRESS) {
        return true;
    }
    error = errno;
    return false;
}

int Socket::connectResult() const {
    int result = 0;
    socklen_t length = sizeof result;
    if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
        return errno;
    }
    return result;
}

Socket Socket::accept(Address& peer, int& error) const {
    Socket taken;
    auto length = static_cast<socklen_t>(peer.bytes.size());
    taken.handle_ = ::accept4(handle_, reinterpret_cast<sockaddr*>(peer.bytes.data()), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC);
    peer.length = length;
    peer = unmapped(peer);
    error = taken.valid() || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                    errno == ECONNABORTED
                ? 0
                : errno;
    return taken;
}

long Socket::receive(std::uint8_t* buffer, std::size_t size, int& error) const {
    const ssize_t got = ::recv(handle_, buffer, size, 0);
    error = got >= 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
    return got;
}

void Socket::readAtLeast(std::size_t bytes) const {
    const int least = static_cast<int>(std::min<std::size_t>(bytes, INT_MAX / 2));
    (void)::setsockopt(handle_, SOL_SOCKET, SO_RCVLOWAT, &least, sizeof least);
}

struct WaitScope::Held {
    HeldSignals signals;
};

WaitScope::WaitScope() : held_(std::make_unique<Held>()) {}

WaitScope::~WaitScope() = default;

Socket::Wait Socket::wait(bool writing, std::uint32_t timeoutMs,
                          const std::function<bool()>& stopping, int& error,
                          const WaitScope* scope) const {
    const WaitOutcome outcome =
        scope != nullptr && scope->held() != nullptr
            ? scope->held()->signals.wait(handle_, timeoutMs, stopping, writing)
            : waitUnlessStopped(handle_, timeoutMs, stopping, writing);
    switch (outcome) {
        case WaitOutcome::Ready:
            return Wait::Ready;
        case WaitOutcome::Stopped:
            return Wait::Stopped;
        case WaitOutcome::Failed:
            error = errno;
            return Wait::Failed;
        case WaitOutcome::Interrupted:
            // A handled signal: the stop, if it was one, is seen at the next check.
            return stopping && stopping() ? Wait::Stopped : Wait::Interrupted;
        case WaitOutcome::TimedOut:
            break;
    }
    return Wait::TimedOut;
}

}  // namespace iqfeeder::net
