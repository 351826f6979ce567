// The Winsock socket: addresses named and looked up, streams opened, listened on, connected and
// read, the stop-aware wait and Winsock's start-up. Its datagram side is in
// NetworkSocketDatagrams_windows.cpp.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "common/SystemError.h"
#include "stream/NetworkSocket.h"
#include "stream/NetworkSocketNative.h"

namespace iqfeeder::net {
namespace {

using native::asSockaddr;
using native::family;
using native::lastError;
using native::notAnError;
using native::setOption;
using native::view;

// Winsock's select can't see a stop: the waits are cut this short, and the stop asked between.
constexpr std::uint32_t kStopAskedEveryMs = 50;

// Not inherited by anything the process starts.
void keepFromChildren(SOCKET socket) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a SOCKET is a kernel handle
    (void)::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

std::string addressText(const Address& address) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    (void)::getnameinfo(asSockaddr(address), static_cast<int>(address.length), host, sizeof host,
                        port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    // Appended: GCC 12 at -O3 warns (-Wrestrict) of an overlapping copy in "[" + host.
    std::string text(family(address) == AF_INET6 ? "[" : "");
    text.append(host).append(family(address) == AF_INET6 ? "]:" : ":").append(port);
    return text;
}

bool isMulticast(const Address& address) {
    if (family(address) == AF_INET6) {
        return view<sockaddr_in6>(address).sin6_addr.s6_addr[0] == 0xff;
    }
    return (ntohl(view<sockaddr_in>(address).sin_addr.s_addr) & 0xf0000000U) == 0xe0000000U;
}

bool isRefusal(int error) {
    return error == WSAECONNREFUSED;
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
        error = systemErrorText(status);
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
        ::closesocket(static_cast<SOCKET>(handle_));
        handle_ = kInvalid;
    }
}

bool Socket::open(const Address& address, bool datagram, int& error) {
    close();
    const SOCKET socket = ::socket(family(address), datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) {
        error = lastError();
        return false;
    }
    handle_ = static_cast<Handle>(socket);
    keepFromChildren(socket);
    u_long nonBlocking = 1;
    (void)::ioctlsocket(socket, FIONBIO, &nonBlocking);
    // An IPv6 address means that address alone, but "[::]" means every address, IPv4's too.
    if (family(address) == AF_INET6) {
        const auto in6 = view<sockaddr_in6>(address);
        (void)setOption(socket, IPPROTO_IPV6, IPV6_V6ONLY,
                        DWORD{IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) ? 0U : 1U});
    }
    error = 0;
    return true;
}

bool Socket::listenOn(const Address& address, int& error) {
    const auto socket = static_cast<SOCKET>(handle_);
    // No other program may take the port from under us.
    (void)setOption(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, BOOL{TRUE});
    if (::bind(socket, asSockaddr(address), static_cast<int>(address.length)) != 0 ||
        ::listen(socket, 8) != 0) {
        error = lastError();
        return false;
    }
    return true;
}

bool Socket::startConnect(const Address& address, int& error) {
    if (::connect(static_cast<SOCKET>(handle_), asSockaddr(address),
                  static_cast<int>(address.length)) == 0 ||
        lastError() == WSAEWOULDBLOCK) {
        return true;
    }
    error = lastError();
    return false;
}

int Socket::connectResult() const {
    int result = 0;
    int length = sizeof result;
    if (::getsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_ERROR,
                     reinterpret_cast<char*>(&result), &length) != 0) {
        return lastError();
    }
    return result;
}

Socket Socket::accept(Address& peer, int& error) const {
    Socket taken;
    int length = static_cast<int>(peer.bytes.size());
    const SOCKET socket = ::accept(static_cast<SOCKET>(handle_),
                                   reinterpret_cast<sockaddr*>(peer.bytes.data()), &length);
    if (socket == INVALID_SOCKET) {
        error = notAnError(lastError()) || lastError() == WSAECONNRESET ? 0 : lastError();
        return taken;
    }
    taken.handle_ = static_cast<Handle>(socket);
    peer.length = static_cast<std::uint32_t>(length);
    peer = unmapped(peer);
    keepFromChildren(socket);
    u_long nonBlocking = 1;
    (void)::ioctlsocket(socket, FIONBIO, &nonBlocking);
    error = 0;
    return taken;
}

long Socket::receive(std::uint8_t* buffer, std::size_t size, int& error) const {
    const int got = ::recv(static_cast<SOCKET>(handle_), reinterpret_cast<char*>(buffer),
                           static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
    error = got >= 0 || notAnError(lastError()) ? 0 : lastError();
    return got;
}

// Winsock can't set SO_RCVLOWAT.
void Socket::readAtLeast(std::size_t /*bytes*/) const {}

struct WaitScope::Held {};

WaitScope::WaitScope() = default;

WaitScope::~WaitScope() = default;

Socket::Wait Socket::wait(bool writing, std::uint32_t timeoutMs,
                          const std::function<bool()>& stopping, int& error,
                          const WaitScope* /*scope*/) const {
    std::uint32_t waited = 0;
    for (;;) {
        if (stopping && stopping()) {
            return Wait::Stopped;
        }
        if (waited >= timeoutMs) {
            return Wait::TimedOut;
        }
        const std::uint32_t slice = std::min(kStopAskedEveryMs, timeoutMs - waited);
        waited += slice;
        if (!valid()) {
            ::Sleep(slice);
            continue;
        }
        const auto socket = static_cast<SOCKET>(handle_);
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket, &ready);
        // A connection that fails is told in the exceptions, not as writable.
        fd_set failed;
        FD_ZERO(&failed);
        FD_SET(socket, &failed);
        timeval timeout{0, static_cast<long>(slice) * 1000L};
        const int result = ::select(0, writing ? nullptr : &ready, writing ? &ready : nullptr,
                                    writing ? &failed : nullptr, &timeout);
        if (result > 0) {
            return Wait::Ready;
        }
        if (result < 0) {
            error = lastError();
            return Wait::Failed;
        }
    }
}

Networking::Networking() {
    WSADATA data{};
    (void)::WSAStartup(MAKEWORD(2, 2), &data);
}

Networking::~Networking() {
    (void)::WSACleanup();
}

}  // namespace iqfeeder::net
