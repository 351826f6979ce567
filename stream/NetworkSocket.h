// The few socket operations the network input needs, one file per platform (BSD sockets,
// Winsock). Every socket is non-blocking, and every wait ends at once on a stop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace iqfeeder::net {

// A socket address of either family, held as the system's bytes.
struct Address {
    std::array<std::uint8_t, 128> bytes{};
    std::uint32_t length = 0;

    bool operator==(const Address& other) const {
        return length == other.length && bytes == other.bytes;
    }
};

// "127.0.0.1:5000" or "[::1]:5000".
std::string addressText(const Address& address);
// The host alone: "127.0.0.1" or "::1".
std::string hostText(const Address& address);
bool isMulticast(const Address& address);
// An IPv4 sender seen through an IPv6 socket ("::ffff:127.0.0.1") as the IPv4 address it is.
Address unmapped(const Address& address);
// The same host, whatever the port (and an IPv4-mapped address as its IPv4 one).
bool sameHost(const Address& a, const Address& b);
bool isAmong(const Address& address, const std::vector<Address>& hosts);

// Errors are the system's codes (errno; WSAGetLastError()), said by systemErrorText.
bool isRefusal(int error);

// The addresses of a name (or an address) at `port`; empty with `error` set when it has none.
std::vector<Address> resolve(const std::string& host, std::uint16_t port, bool datagram,
                             std::string& error);

// A lookup under way beside the loop, so that a name server that does not answer can't hold
// up the feed or a watchdog: the loop asks whether it is done between its own waits. Where the
// system has no way to look up beside it, the lookup is done when it is made.
class Lookup {
  public:
    Lookup(const std::string& host, std::uint16_t port, bool datagram);
    ~Lookup();
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
    Lookup(Lookup&&) = delete;
    Lookup& operator=(Lookup&&) = delete;

    // Waits up to `milliseconds` for the answer; true once it is in.
    bool wait(std::uint32_t milliseconds);
    // The answer, once wait() said it is in.
    std::vector<Address> addresses(std::string& error) const;

    struct State;

  private:
    // Shared with the lookup's thread: one left behind by a stop finishes on its own.
    std::shared_ptr<State> state_;
};

// Held for one read of an input, its waits need no signal-mask calls of their own: signals are
// held while it lives and let in only within each wait (POSIX; nothing on Windows).
class WaitScope {
  public:
    WaitScope();
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
    WaitScope(WaitScope&&) = delete;
    WaitScope& operator=(WaitScope&&) = delete;

    struct Held;
    const Held* held() const { return held_.get(); }

  private:
    std::unique_ptr<Held> held_;
};

// Owns one socket and closes it.
class Socket {
  public:
    Socket() = default;
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != kInvalid; }
    void close();

    // A new non-blocking socket for `address`'s family; false leaves `error` set.
    bool open(const Address& address, bool datagram, int& error);
    // Listening on exactly `address`, with room for senders waiting their turn.
    bool listenOn(const Address& address, int& error);
    // Bound to `address` for datagrams: its group joined when it is a multicast address, the
    // receive buffer asked for `receiveBytes` (its size granted in `grantedBytes`), and the
    // kernel's count of dropped datagrams asked for where it keeps one (`dropsCounted`).
    bool bindForDatagrams(const Address& address, int receiveBytes, int& grantedBytes,
                          bool& dropsCounted, int& error);
    // Starts a connection; true when it is made or on its way (then wait to write, and ask
    // connectResult()).
    bool startConnect(const Address& address, int& error);
    // 0 once made, else the reason it failed.
    int connectResult() const;
    // The next waiting connection, non-blocking; invalid when there was none (error 0) or it
    // failed.
    Socket accept(Address& peer, int& error) const;
    // Bytes received: > 0; 0 at the end of a connection; < 0 with `error` set (0 for "none
    // waiting" or an interruption).
    long receive(std::uint8_t* buffer, std::size_t size, int& error) const;
    // A wait for reading ends only once this many bytes are there (or the connection ends), so
    // a buffer fills in one wake rather than one a segment. Where the system can't, as on
    // Windows, a wait ends with the first byte as before.
    void readAtLeast(std::size_t bytes) const;
    // One datagram, into `buffer` and what does not fit there into `spill`, with its sender
    // and, where counted, the kernel's running total of dropped datagrams (32 bits, wrapping).
    long receiveFrom(std::uint8_t* buffer, std::size_t size, std::uint8_t* spill,
                     std::size_t spillSize, Address& from, std::uint32_t& droppedTotal,
                     int& error) const;
    // Up to `count` datagrams at once, datagram i into `slots + i * slot` and what does not fit
    // there into `spills + i * spillEach`, with their senders and lengths; how many came (0:
    // none waiting), or -1 with `error` set. Where the system has no such call, one at a time.
    long receiveBatch(std::uint8_t* slots, std::size_t slot, std::uint8_t* spills,
                      std::size_t spillEach, std::size_t count, Address* from, std::size_t* lengths,
                      std::uint32_t& droppedTotal, int& error) const;
    // The kernel's running total of dropped datagrams as it stands, read without a datagram;
    // false where it can't be read so.
    bool droppedTotal(std::uint32_t& total) const;

    enum class Wait { Ready, TimedOut, Interrupted, Stopped, Failed };
    // Until the socket can be read (or written), `timeoutMs` has passed, or a stop: a stop
    // that lands just before the wait ends it too. Without a socket, a stop-aware sleep.
    Wait wait(bool writing, std::uint32_t timeoutMs, const std::function<bool()>& stopping,
              int& error, const WaitScope* scope = nullptr) const;

  private:
#ifdef _WIN32
    using Handle = std::uintptr_t;
    static constexpr Handle kInvalid = ~Handle{0};
#else
    using Handle = int;
    static constexpr Handle kInvalid = -1;
#endif
    Handle release() {
        const Handle handle = handle_;
        handle_ = kInvalid;
        return handle;
    }

    Handle handle_ = kInvalid;
};

// Sockets usable while it lives (Winsock's start and cleanup; nothing elsewhere).
class Networking {
  public:
#ifdef _WIN32
    Networking();
    ~Networking();
#else
    Networking() = default;
#endif
    Networking(const Networking&) = delete;
    Networking& operator=(const Networking&) = delete;
};

}  // namespace iqfeeder::net
