// The system's socket structures read and set, shared by each platform's socket files: an
// Address's bytes seen as a sockaddr of its family, and socket options set by value.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "stream/NetworkSocket.h"

namespace iqfeeder::net::native {

inline const sockaddr* asSockaddr(const Address& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes.data());
}

inline int family(const Address& address) {
    return asSockaddr(address)->sa_family;
}

template <typename T>
T view(const Address& address) {
    T value{};
    std::memcpy(&value, address.bytes.data(), std::min<std::size_t>(sizeof value, address.length));
    return value;
}

#ifdef _WIN32
template <typename T>
bool setOption(SOCKET socket, int level, int name, T value) {
    return ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) ==
           0;
}

inline int lastError() {
    return ::WSAGetLastError();
}

inline bool notAnError(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}
#else
template <typename T>
bool setOption(int fd, int level, int name, T value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}
#endif

}  // namespace iqfeeder::net::native
