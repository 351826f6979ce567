// The datagram side of the Winsock socket: bound (and joined to a group) with the receive buffer
// asked for, then read one datagram at a time; Winsock keeps no drop count.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

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

}  // namespace

bool Socket::bindForDatagrams(const Address& address, int receiveBytes, int& grantedBytes,
                              bool& dropsCounted, int& error) {
    const auto socket = static_cast<SOCKET>(handle_);
    (void)setOption(socket, SOL_SOCKET, SO_RCVBUF, receiveBytes);
    int granted = 0;
    int length = sizeof granted;
    (void)::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length);
    grantedBytes = granted;
    dropsCounted = false;  // Winsock keeps no count
    Address bound = address;
    if (isMulticast(address)) {
        // Windows binds a group's receiver to its port on any address, then joins the group.
        (void)setOption(socket, SOL_SOCKET, SO_REUSEADDR, BOOL{TRUE});
        if (family(address) == AF_INET6) {
            auto any = view<sockaddr_in6>(address);
            any.sin6_addr = in6addr_any;
            std::memcpy(bound.bytes.data(), &any, sizeof any);
        } else {
            auto any = view<sockaddr_in>(address);
            any.sin_addr.s_addr = htonl(INADDR_ANY);
            std::memcpy(bound.bytes.data(), &any, sizeof any);
        }
    }
    if (::bind(socket, asSockaddr(bound), static_cast<int>(bound.length)) != 0) {
        error = lastError();
        return false;
    }
    if (isMulticast(address)) {
        bool joined = false;
        if (family(address) == AF_INET6) {
            ipv6_mreq request{};
            request.ipv6mr_multiaddr = view<sockaddr_in6>(address).sin6_addr;
            joined = setOption(socket, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, request);
        } else {
            ip_mreq request{};
            request.imr_multiaddr = view<sockaddr_in>(address).sin_addr;
            request.imr_interface.s_addr = htonl(INADDR_ANY);
            joined = setOption(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, request);
        }
        if (!joined) {
            error = lastError();
            return false;
        }
    }
    return true;
}

long Socket::receiveFrom(std::uint8_t* buffer, std::size_t size, std::uint8_t* spill,
                         std::size_t spillSize, Address& from, std::uint32_t& droppedTotal,
                         int& error) const {
    (void)droppedTotal;
    std::array<WSABUF, 2> parts{};
    parts[0].buf = reinterpret_cast<char*>(buffer);
    parts[0].len = static_cast<ULONG>(std::min<std::size_t>(size, INT_MAX));
    parts[1].buf = reinterpret_cast<char*>(spill);
    parts[1].len = static_cast<ULONG>(std::min<std::size_t>(spillSize, INT_MAX));
    int length = static_cast<int>(from.bytes.size());
    DWORD got = 0;
    DWORD flags = 0;
    if (::WSARecvFrom(static_cast<SOCKET>(handle_), parts.data(), 2, &got, &flags,
                      reinterpret_cast<sockaddr*>(from.bytes.data()), &length, nullptr,
                      nullptr) != 0) {
        // A port unreachable that an earlier send of ours brought back is no failure here.
        error = notAnError(lastError()) || lastError() == WSAECONNRESET ? 0 : lastError();
        return -1;
    }
    error = 0;
    from.length = static_cast<std::uint32_t>(length);
    from = unmapped(from);
    return static_cast<long>(got);
}

long Socket::receiveBatch(std::uint8_t* slots, std::size_t slot, std::uint8_t* spills,
                          std::size_t spillEach, std::size_t /*count*/, Address* from,
                          std::size_t* lengths, std::uint32_t& droppedTotal, int& error) const {
    const long got = receiveFrom(slots, slot, spills, spillEach, *from, droppedTotal, error);
    if (got < 0) {
        return error == 0 ? 0 : -1;
    }
    lengths[0] = static_cast<std::size_t>(got);
    return 1;
}

// NOLINTNEXTLINE(readability-convert-member-functions-to-static): on POSIX it reads the socket
bool Socket::droppedTotal(std::uint32_t& total) const {
    (void)total;
    return false;
}

}  // namespace iqfeeder::net
