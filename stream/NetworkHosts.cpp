// Addresses compared and named by host, for sources= and for folding a sender's events, on
// either platform (the socket address layouts are the same).
#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#ifndef _WIN32
#include <thread>
#endif

#include "stream/NetworkSocket.h"

namespace iqfeeder::net {
namespace {

int familyOf(const Address& address) {
    sockaddr header{};
    std::memcpy(&header, address.bytes.data(), sizeof header);
    return header.sa_family;
}

template <typename T>
T view(const Address& address) {
    T value{};
    std::memcpy(&value, address.bytes.data(), std::min<std::size_t>(sizeof value, address.length));
    return value;
}

bool isMappedV4(const sockaddr_in6& in6) {
    static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(&in6.sin6_addr, kPrefix, sizeof kPrefix) == 0;
}

}  // namespace

Address unmapped(const Address& address) {
    if (familyOf(address) != AF_INET6) {
        return address;
    }
    const auto in6 = view<sockaddr_in6>(address);
    if (!isMappedV4(in6)) {
        return address;
    }
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = in6.sin6_port;
    std::memcpy(&in4.sin_addr, reinterpret_cast<const std::uint8_t*>(&in6.sin6_addr) + 12, 4);
    Address result;
    std::memcpy(result.bytes.data(), &in4, sizeof in4);
    result.length = sizeof in4;
    return result;
}

bool sameHost(const Address& a, const Address& b) {
    const Address left = unmapped(a);
    const Address right = unmapped(b);
    if (familyOf(left) != familyOf(right)) {
        return false;
    }
    if (familyOf(left) == AF_INET6) {
        const auto x = view<sockaddr_in6>(left);
        const auto y = view<sockaddr_in6>(right);
        return std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return view<sockaddr_in>(left).sin_addr.s_addr == view<sockaddr_in>(right).sin_addr.s_addr;
}

bool isAmong(const Address& address, const std::vector<Address>& hosts) {
    return std::any_of(hosts.begin(), hosts.end(),
                       [&address](const Address& host) { return sameHost(address, host); });
}

std::string hostText(const Address& address) {
    const std::string text = addressText(unmapped(address));
    const std::size_t colon = text.rfind(':');
    std::string host = text.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']')) {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

struct Lookup::State {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<Address> addresses;
    std::string error;
};

Lookup::Lookup(const std::string& host, std::uint16_t port, bool datagram)
    : state_(std::make_shared<State>()) {
#ifdef _WIN32
    state_->addresses = resolve(host, port, datagram, state_->error);
    state_->finished = true;
#else
    // Left to finish on its own if the run stops first: a lookup can't be called off.
    std::thread([state = state_, host, port, datagram] {
        std::string error;
        std::vector<Address> found = resolve(host, port, datagram, error);
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->addresses = std::move(found);
        state->error = std::move(error);
        state->finished = true;
        state->done.notify_all();
    }).detach();
#endif
}

Lookup::~Lookup() = default;

bool Lookup::wait(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->done.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return state_->finished; });
}

std::vector<Address> Lookup::addresses(std::string& error) const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    error = state_->error;
    return state_->addresses;
}

}  // namespace iqfeeder::net
