// The datagram side of the BSD socket: bound (and joined to a group) with a receive buffer as
// large as allowed, then read one datagram or a batch at a time, with the kernel's drop count.
#include <netinet/in.h>
#ifdef __linux__
#include <linux/sock_diag.h>
#endif
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "stream/NetworkSocket.h"
#include "stream/NetworkSocketNative.h"

namespace iqfeeder::net {
namespace {

using native::asSockaddr;
using native::family;
using native::setOption;
using native::view;

bool joinGroup(int fd, const Address& group) {
    if (family(group) == AF_INET6) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = view<sockaddr_in6>(group).sin6_addr;
        return setOption(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, request);
    }
    ip_mreq request{};
    request.imr_multiaddr = view<sockaddr_in>(group).sin_addr;
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    return setOption(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, request);
}

}  // namespace

bool Socket::bindForDatagrams(const Address& address, int receiveBytes, int& grantedBytes,
                              bool& dropsCounted, int& error) {
    // Past the system's limit where the program may (CAP_NET_ADMIN), else up to it.
#ifdef SO_RCVBUFFORCE
    if (!setOption(handle_, SOL_SOCKET, SO_RCVBUFFORCE, receiveBytes))
#endif
    {
        (void)setOption(handle_, SOL_SOCKET, SO_RCVBUF, receiveBytes);
    }
    int granted = 0;
    socklen_t length = sizeof granted;
    (void)::getsockopt(handle_, SOL_SOCKET, SO_RCVBUF, &granted, &length);
#ifdef __linux__
    grantedBytes = granted / 2;  // Linux reports twice what it grants, for its bookkeeping
    dropsCounted = setOption(handle_, SOL_SOCKET, SO_RXQ_OVFL, 1);
#else
    grantedBytes = granted;
    dropsCounted = false;
#endif
    // Other receivers of the same group may share the port.
    if (isMulticast(address)) {
        (void)setOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
    }
    if (::bind(handle_, asSockaddr(address), address.length) != 0 ||
        (isMulticast(address) && !joinGroup(handle_, address))) {
        error = errno;
        return false;
    }
    return true;
}

// NOLINTNEXTLINE(readability-non-const-parameter): recvmsg writes them, through the iovecs
long Socket::receiveFrom(std::uint8_t* buffer, std::size_t size, std::uint8_t* spill,
                         std::size_t spillSize, Address& from, std::uint32_t& droppedTotal,
                         int& error) const {
    std::array<iovec, 2> parts{iovec{buffer, size}, iovec{spill, spillSize}};
    alignas(cmsghdr) std::array<std::uint8_t, CMSG_SPACE(sizeof(std::uint32_t))> control{};
    msghdr message{};
    message.msg_name = from.bytes.data();
    message.msg_namelen = static_cast<socklen_t>(from.bytes.size());
    message.msg_iov = parts.data();
    message.msg_iovlen = parts.size();
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(handle_, &message, 0);
    if (got < 0) {
        error = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
        return -1;
    }
    error = 0;
    from.length = message.msg_namelen;
    from = unmapped(from);
#ifdef __linux__
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&droppedTotal, CMSG_DATA(header), sizeof droppedTotal);
        }
    }
#else
    (void)droppedTotal;
#endif
    return got;
}

long Socket::receiveBatch(std::uint8_t* slots, std::size_t slot, std::uint8_t* spills,
                          std::size_t spillEach, std::size_t count, Address* from,
                          std::size_t* lengths, std::uint32_t& droppedTotal, int& error) const {
#ifdef __linux__
    constexpr std::size_t kMost = 64;
    count = std::min(count, kMost);
    std::array<mmsghdr, kMost> messages{};
    std::array<std::array<iovec, 2>, kMost> parts{};
    using Control = std::array<std::uint8_t, CMSG_SPACE(sizeof(std::uint32_t))>;
    alignas(cmsghdr) std::array<Control, kMost> control{};
    for (std::size_t i = 0; i < count; ++i) {
        parts[i] = {iovec{slots + i * slot, slot}, iovec{spills + i * spillEach, spillEach}};
        msghdr& header = messages[i].msg_hdr;
        header.msg_name = from[i].bytes.data();
        header.msg_namelen = static_cast<socklen_t>(from[i].bytes.size());
        header.msg_iov = parts[i].data();
        header.msg_iovlen = 2;
        header.msg_control = control[i].data();
        header.msg_controllen = control[i].size();
    }
    const int got = ::recvmmsg(handle_, messages.data(), static_cast<unsigned>(count), 0, nullptr);
    if (got < 0) {
        error = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
        return error == 0 ? 0 : -1;
    }
    error = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
        msghdr& header = messages[i].msg_hdr;
        from[i].length = header.msg_namelen;
        from[i] = unmapped(from[i]);
        lengths[i] = messages[i].msg_len;
        for (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr;
             item = CMSG_NXTHDR(&header, item)) {
            if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SO_RXQ_OVFL) {
                std::memcpy(&droppedTotal, CMSG_DATA(item), sizeof droppedTotal);
            }
        }
    }
    return got;
#else
    (void)count;
    const long got = receiveFrom(slots, slot, spills, spillEach, *from, droppedTotal, error);
    if (got < 0) {
        return error == 0 ? 0 : -1;
    }
    lengths[0] = static_cast<std::size_t>(got);
    return 1;
#endif
}

bool Socket::droppedTotal(std::uint32_t& total) const {
#if defined(__linux__) && defined(SO_MEMINFO)
    // The same count SO_RXQ_OVFL carries on the next datagram, read with none to come.
    std::array<std::uint32_t, SK_MEMINFO_VARS> memory{};
    auto length = static_cast<socklen_t>(sizeof memory);
    if (::getsockopt(handle_, SOL_SOCKET, SO_MEMINFO, memory.data(), &length) != 0 ||
        length <= SK_MEMINFO_DROPS * sizeof(std::uint32_t)) {
        return false;
    }
    total = memory[SK_MEMINFO_DROPS];
    return true;
#else
    (void)total;
    return false;
#endif
}

}  // namespace iqfeeder::net
