#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#ifdef __linux__
#include <linux/sock_diag.h>
#endif
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/StopAwareWait.h"
#include "stream/NetworkSocket.h"

namespace iqfeeder::net {
namespace {

const sockaddr* asSockaddr(const Address& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes.data());
}

int family(const Address& address) {
    return asSockaddr(address)->sa_family;
}

template <typename T>
T view(const Address& address) {
    T value{};
    std::memcpy(&value, address.bytes.data(), std::min<std::size_t>(sizeof value, address.length));
    return value;
}

template <typename T>
bool setOption(int fd, int level, int name, T value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

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
