// Network inputs on loopback (127.0.0.1 and ::1): senders in turn through one run with the
// device opened once, a server that comes up late and restarts, datagrams in order, the
// operand's spellings, and a stop in each wait. Every wait is bounded by the run's own stop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef IQFEEDER_HAVE_SRT
#include <srt/srt.h>
#endif

#include "app/ServiceMonitor.h"
#include "app/ServiceNotifier.h"
#include "stream/NetworkKind.h"
#include "stream/SocketReader.h"
#include "tests/support/RunFixture.h"

namespace iqfeeder {
namespace {

using testing::patternBytes;
using testing::RunFixture;

// A loopback socket address of either family.
struct Loopback {
    sockaddr_storage storage{};
    socklen_t length = 0;

    Loopback(bool ipv6, std::uint16_t port) {
        if (ipv6) {
            sockaddr_in6 in6{};
            in6.sin6_family = AF_INET6;
            in6.sin6_addr = in6addr_loopback;
            in6.sin6_port = htons(port);
            std::memcpy(&storage, &in6, sizeof in6);
            length = sizeof in6;
        } else {
            sockaddr_in in4{};
            in4.sin_family = AF_INET;
            in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            in4.sin_port = htons(port);
            std::memcpy(&storage, &in4, sizeof in4);
            length = sizeof in4;
        }
    }
    const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

std::uint16_t portOf(int fd) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

// Bound (and for TCP listening) on loopback at `port`, 0 for the kernel's pick; -1 when taken.
int bindLoopback(bool udp, bool ipv6, std::uint16_t port) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const Loopback at(ipv6, port);
    if (::bind(fd, at.address(), at.length) != 0 || (!udp && ::listen(fd, 4) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A socket of its own loopback host (127.0.0.N), as a second machine on the network would be.
int socketFrom(bool udp, const char* host) {
    const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, host, &at.sin_addr);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    return fd;
}

void sendDatagram(int fd, std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
    const Loopback to(false, port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, to.address(), to.length);
}

// Once the run has bound `port` (it is taken then), for up to 5 s.
void waitUntilBound(bool udp, std::uint16_t port) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int probe = bindLoopback(udp, false, port);
        if (probe < 0) {
            return;
        }
        ::close(probe);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A port nobody uses just now, below Linux's ephemeral range: the kernel never hands it to a
// connection of the tests running beside this one between our pick and the run's bind.
std::uint16_t freePort(bool udp, bool ipv6) {
    static std::mt19937 pick{std::random_device{}()};
    std::uniform_int_distribution<int> below(20000, 32000);
    for (;;) {
        const auto port = static_cast<std::uint16_t>(below(pick));
        if (const int fd = bindLoopback(udp, ipv6, port); fd >= 0) {
            ::close(fd);
            return port;
        }
    }
}

// Connected to a loopback listener, trying for up to 5 s while it is not there yet.
int connectWhenListening(bool ipv6, std::uint16_t port) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        const Loopback at(ipv6, port);
        if (::connect(fd, at.address(), at.length) == 0) {
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void sendAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t done = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        ASSERT_GT(done, 0);
        sent += static_cast<std::size_t>(done);
    }
}

// Pattern bytes [from, to), then zeros up to `paddedTo` bytes in all.
std::vector<std::uint8_t> padded(std::size_t from, std::size_t to, std::size_t paddedTo) {
    auto bytes = patternBytes(to - from, from);
    bytes.resize(paddedTo, 0);
    return bytes;
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

std::string progress(int kilobytes) {
    return "Using network input, Read " + std::to_string(kilobytes) + "KB\r";
}

class NetworkRunTest : public RunFixture {
  protected:
    int runNetwork(const std::string& operand, std::size_t writes, bool stats = false) {
        // Stopped once the last expected buffer has gone out whole; a second a write.
        driver.afterWrite = [this, writes](std::size_t index) {
            clockMs += 1000;
            stopAsked = stopAsked || index + 1 == writes;
        };
        RunOptions options;
        options.stats = stats;
        options.inputPath = operand;
        std::string why;
        options.network = parseNetworkOperand(operand, why);
        return run(options);
    }
    std::size_t opens() const {
        return static_cast<std::size_t>(
            std::count_if(driver.calls.begin(), driver.calls.end(),
                          [](const std::string& call) { return call.starts_with("open "); }));
    }
};

// The first sender connects, and a second one behind it sends everything and leaves while it is
// still in the backlog: the first is read to its end, then the second, each one's last buffer
// padded, all through the one open device. The metrics count both senders and what they sent.
TEST_F(NetworkRunTest, TwoTcpSendersInTurnWithTheDeviceOpenedOnce) {
    const std::string metricsPath = dir.file("iqfeeder.prom");
    MetricsFile metricsFile(metricsPath, diagnostics);
    RunMetrics runMetrics(
        metricsFile, {"0", "maker", "tcp-listen", 0}, [] { return 0.0; }, 1000);
    metrics = &runMetrics;
    const std::uint16_t port = freePort(false, false);
    const std::string operand = "tcp://127.0.0.1:" + std::to_string(port) + "?listen";
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    std::thread senders([&] {
        const int a = connectWhenListening(false, port);
        const int b = connectWhenListening(false, port);
        first = portOf(a);
        second = portOf(b);
        sendAll(b, patternBytes(40000, 70000));
        ::close(b);
        sendAll(a, patternBytes(70000));
        ::close(a);
    });

    EXPECT_EQ(runNetwork(operand, 25), 0);
    senders.join();

    const std::string waiting = "Waiting for a sender on " + operand + ".....\n";
    const std::string a = "127.0.0.1:" + std::to_string(first);
    const std::string b = "127.0.0.1:" + std::to_string(second);
    EXPECT_EQ(output(), preamble(operand) + waiting + "Sender " + a + " connected.\n" +
                            progress(32) + progress(64) + progress(70) + "Sender " + a +
                            " ended after 70000 bytes.\n" + waiting + "Sender " + b +
                            " connected.\n" + progress(102) + progress(110) + "Sender " + b +
                            " ended after 40000 bytes.\n");
    std::vector<std::uint8_t> expected = padded(0, 70000, 96000);
    append(expected, padded(70000, 110000, 64000));
    EXPECT_EQ(driver.bytes, expected);
    EXPECT_EQ(opens(), 1U);
    EXPECT_EQ(errorOutput(), "");
    const auto text = testing::readFile(metricsPath);
    const std::string metricsText(text.begin(), text.end());
    for (const std::string& sample :
         {std::string("iqfeeder_network_senders_total 2\n"),
          std::string("iqfeeder_input_bytes_total 110000\n"),
          "iqfeeder_device_bytes_total " + std::to_string(expected.size()) + "\n"}) {
        EXPECT_NE(metricsText.find(sample), std::string::npos) << sample << metricsText;
    }
}

// The server is not up when the run starts, and goes away after its stream: each time the
// connection is refused, said once, and tried again every second until the server is back.
TEST_F(NetworkRunTest, ServerComingUpLateAndRestartingIsConnectedToEachTime) {
    const std::uint16_t port = freePort(false, true);
    const std::string operand = "tcp://[::1]:" + std::to_string(port);
    std::thread server([&] {
        for (const auto& [from, to] : {std::pair{0, 40000}, std::pair{40000, 50000}}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const int listener = bindLoopback(false, true, port);
            const int connection = ::accept(listener, nullptr, nullptr);
            ::close(listener);  // restarting: refused from here on until it is back
            sendAll(connection, patternBytes(static_cast<std::size_t>(to - from),
                                             static_cast<std::size_t>(from)));
            ::close(connection);
        }
    });

    EXPECT_EQ(runNetwork(operand, 15), 0);
    server.join();

    const std::string connecting = "Connecting to " + operand + ".....\nConnection to " + operand +
                                   " refused, trying again every second.....\n";
    const std::string sender = "Sender [::1]:" + std::to_string(port);
    EXPECT_EQ(output(), preamble(operand) + connecting + sender + " connected.\n" + progress(32) +
                            progress(40) + sender + " ended after 40000 bytes.\n" + connecting +
                            sender + " connected.\n" + progress(50) + sender +
                            " ended after 10000 bytes.\n");
    std::vector<std::uint8_t> expected = padded(0, 40000, 64000);
    append(expected, padded(40000, 50000, 32000));
    EXPECT_EQ(driver.bytes, expected);
    EXPECT_EQ(opens(), 1U);
}

// Datagrams of an encoder's 7 x 188 bytes, with one larger than a whole buffer among them: their
// bytes in arrival order, and the sender's last buffer sent once it has gone quiet.
TEST_F(NetworkRunTest, UdpDatagramsGoOutInOrderWhateverTheirSize) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand = "udp://127.0.0.1:" + std::to_string(port);
    std::vector<std::size_t> sizes(50, 1316);
    sizes.push_back(40000);
    sizes.insert(sizes.end(), 5, 1316);
    std::uint16_t from = 0;
    std::thread sender([&] {
        // Sent once the run has bound the port (it is taken then).
        for (int attempt = 0; attempt < 500; ++attempt) {
            const int probe = bindLoopback(true, false, port);
            if (probe < 0) {
                break;
            }
            ::close(probe);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const Loopback to(false, port);
        std::size_t offset = 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const auto bytes = patternBytes(sizes[i], offset);
            ::sendto(fd, bytes.data(), bytes.size(), 0, to.address(), to.length);
            offset += sizes[i];
            from = portOf(fd);
            if (i % 10 == 9) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        ::close(fd);
    });

    EXPECT_EQ(runNetwork(operand, 20, true), 0);
    sender.join();

    const std::string name = "Sender 127.0.0.1:" + std::to_string(from);
    EXPECT_EQ(output(), preamble(operand) + "Waiting for a sender on " + operand + ".....\n" +
                            name + " connected.\n" + progress(32) + progress(64) + progress(96) +
                            progress(112) + name + " ended after 112380 bytes.\n");
    EXPECT_EQ(driver.bytes, padded(0, 112380, 128000));
    EXPECT_EQ(opens(), 1U);
    // The network's own rate in the summary: 112380 bytes in the run's 20 s (a second a write).
    EXPECT_NE(errorOutput().find("iqfeeder: in all, 128000 bytes in 20.0 s: device 6.4 kB/s "
                                 "(average 6.4 kB/s); network 5.6 kB/s, datagrams dropped 0;"),
              std::string::npos)
        << errorOutput();
}

// Only the host named in sources= reaches the device: a stranger's 1-byte datagrams, sent
// between the sender's, are dropped and named once, and the sender's bytes keep their alignment.
// The listener is "[::]", which takes IPv4 senders too, and knows them by their IPv4 address.
TEST_F(NetworkRunTest, DatagramsFromHostsNotAmongTheSourcesNeverReachTheDevice) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand =
        "udp://[::]:" + std::to_string(port) + "?sources=127.0.0.1&timeout=300000";
    std::uint16_t from = 0;
    std::thread senders([&] {
        waitUntilBound(true, port);
        const int sender = socketFrom(true, "127.0.0.1");
        const int stranger = socketFrom(true, "127.0.0.2");
        for (std::size_t i = 0; i < 30; ++i) {
            sendDatagram(sender, port, patternBytes(1316, i * 1316));
            sendDatagram(stranger, port, {0xEE});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        from = portOf(sender);
        ::close(sender);
        ::close(stranger);
    });

    EXPECT_EQ(runNetwork(operand, 10), 0);
    senders.join();

    const std::string name = "Sender 127.0.0.1:" + std::to_string(from);
    EXPECT_EQ(output(), preamble(operand) + "Waiting for a sender on " + operand + ".....\n" +
                            name + " connected.\n" + progress(32) + progress(39) + name +
                            " ended after 39480 bytes.\n");
    EXPECT_EQ(driver.bytes, padded(0, 39480, 64000));
    EXPECT_EQ(errorOutput(),
              "iqfeeder: " + operand + ": datagrams from 127.0.0.2 refused: not among sources=\n");
}

// A connection from a host not among the sources is closed before anything of it is read; the
// listener goes on to the next.
TEST_F(NetworkRunTest, ConnectionsFromHostsNotAmongTheSourcesAreClosedUnread) {
    const std::uint16_t port = freePort(false, false);
    const std::string operand =
        "tcp://127.0.0.1:" + std::to_string(port) + "?listen&sources=127.0.0.1";
    std::uint16_t from = 0;
    std::thread senders([&] {
        waitUntilBound(false, port);
        const Loopback at(false, port);
        const int stranger = socketFrom(false, "127.0.0.2");
        ASSERT_EQ(::connect(stranger, at.address(), at.length), 0);
        sendAll(stranger, std::vector<std::uint8_t>(5000, 0xEE));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int sender = socketFrom(false, "127.0.0.1");
        ASSERT_EQ(::connect(sender, at.address(), at.length), 0);
        from = portOf(sender);
        sendAll(sender, patternBytes(40000));
        ::close(sender);
        ::close(stranger);
    });

    EXPECT_EQ(runNetwork(operand, 10), 0);
    senders.join();

    const std::string name = "Sender 127.0.0.1:" + std::to_string(from);
    EXPECT_EQ(output(), preamble(operand) + "Waiting for a sender on " + operand + ".....\n" +
                            name + " connected.\n" + progress(32) + progress(40) + name +
                            " ended after 40000 bytes.\n");
    EXPECT_EQ(driver.bytes, padded(0, 40000, 64000));
    EXPECT_EQ(errorOutput(), "iqfeeder: " + operand +
                                 ": a connection from 127.0.0.2 refused: not among sources=\n");
}

// While one UDP sender holds the stream, another's datagrams are dropped and named once; once
// the first has been silent for its time-out, the other takes over at a buffer boundary.
TEST_F(NetworkRunTest, OneUdpSenderAtATimeTheNextOnceTheFirstFellSilent) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand = "udp://127.0.0.1:" + std::to_string(port) + "?timeout=300000";
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    std::thread senders([&] {
        waitUntilBound(true, port);
        const int a = socketFrom(true, "127.0.0.1");
        const int b = socketFrom(true, "127.0.0.2");
        for (std::size_t i = 0; i < 20; ++i) {
            sendDatagram(a, port, patternBytes(1000, i * 1000));
            sendDatagram(b, port, std::vector<std::uint8_t>(1000, 0xEE));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        for (std::size_t i = 0; i < 10; ++i) {
            sendDatagram(b, port, patternBytes(1000, 20000 + i * 1000));
        }
        first = portOf(a);
        second = portOf(b);
        ::close(a);
        ::close(b);
    });

    EXPECT_EQ(runNetwork(operand, 10), 0);
    senders.join();

    const std::string a = "Sender 127.0.0.1:" + std::to_string(first);
    const std::string b = "Sender 127.0.0.2:" + std::to_string(second);
    const std::string waiting = "Waiting for a sender on " + operand + ".....\n";
    EXPECT_EQ(output(), preamble(operand) + waiting + a + " connected.\n" + progress(20) + a +
                            " ended after 20000 bytes.\n" + waiting + b + " connected.\n" +
                            progress(30) + b + " ended after 10000 bytes.\n");
    std::vector<std::uint8_t> expected = padded(0, 20000, 32000);
    append(expected, padded(20000, 30000, 32000));
    EXPECT_EQ(driver.bytes, expected);
    EXPECT_EQ(errorOutput(), "iqfeeder: " + operand +
                                 ": datagrams from 127.0.0.2 dropped: sender " + a.substr(7) +
                                 " holds the stream\n");
}

// A burst the device can't keep up with overflows a small receive buffer: the loss counted is
// what the kernel dropped, the datagrams lost after the last one read among them, and it is
// said on standard error without --stats.
TEST_F(NetworkRunTest, DatagramLossIsCountedAsTheKernelCountsIt) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand =
        "udp://127.0.0.1:" + std::to_string(port) + "?timeout=300000&buffer_size=16384";
    constexpr std::size_t kSent = 400;
    std::thread sender([&] {
        waitUntilBound(true, port);
        const int fd = socketFrom(true, "127.0.0.1");
        for (std::size_t i = 0; i < kSent; ++i) {
            sendDatagram(fd, port, patternBytes(1316, i * 1316));
        }
        ::close(fd);
    });
    RunOptions options;
    options.stats = true;
    options.inputPath = operand;
    std::string why;
    options.network = parseNetworkOperand(operand, why);
    // A slow device: the burst is long over, most of it dropped, by the first buffer's end.
    driver.afterWrite = [this](std::size_t index) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        clockMs += 1000;
        stopAsked = stopAsked ||
                    ((index + 1) % 5 == 0 && output().find(" ended after ") != std::string::npos);
    };

    EXPECT_EQ(run(options), 0);
    sender.join();

    const std::string text = output();
    const std::size_t ended = text.find(" ended after ");
    ASSERT_NE(ended, std::string::npos) << text;
    const std::size_t received = std::stoul(text.substr(ended + 13));
    ASSERT_EQ(received % 1316, 0U);
    const std::size_t dropped = kSent - received / 1316;
    ASSERT_GT(dropped, 0U);
    EXPECT_NE(errorOutput().find("datagrams dropped " + std::to_string(dropped) + ";"),
              std::string::npos)
        << errorOutput();
    EXPECT_NE(errorOutput().find("datagrams lost in all so far"), std::string::npos)
        << errorOutput();
}

TEST(WrappingCountTest, CountsOnPastTheKernelCountersWrap) {
    WrappingCount count;
    count.see(0xFFFFFFF0U);
    count.see(0x10U);
    EXPECT_EQ(count.total(), 0x100000010ULL);
}

// A connected sender that sends nothing (a half-open connection) loses its turn after its
// time-out, and the next in the backlog is served; with --stats the time-out is said.
TEST_F(NetworkRunTest, SilentTcpSenderLosesItsTurnWithinItsTimeout) {
    const std::uint16_t port = freePort(false, false);
    const std::string operand =
        "tcp://127.0.0.1:" + std::to_string(port) + "?listen&timeout=300000";
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    int silent = -1;
    std::thread senders([&] {
        silent = connectWhenListening(false, port);
        first = portOf(silent);
        // Once the run waits for a whole buffer: what comes short of it is still read.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sendAll(silent, patternBytes(1000));
        const int next = connectWhenListening(false, port);
        second = portOf(next);
        sendAll(next, patternBytes(5000, 1000));
        ::close(next);
    });

    EXPECT_EQ(runNetwork(operand, 10, true), 0);
    senders.join();
    ::close(silent);

    const std::string a = "127.0.0.1:" + std::to_string(first);
    const std::string b = "127.0.0.1:" + std::to_string(second);
    const std::string waiting = "Waiting for a sender on " + operand + ".....\n";
    EXPECT_EQ(output(), preamble(operand) + waiting + "Sender " + a + " connected.\n" +
                            progress(1) + "Sender " + a + " ended after 1000 bytes.\n" + waiting +
                            "Sender " + b + " connected.\n" + progress(6) + "Sender " + b +
                            " ended after 5000 bytes.\n");
    std::vector<std::uint8_t> expected = padded(0, 1000, 32000);
    append(expected, padded(1000, 6000, 32000));
    EXPECT_EQ(driver.bytes, expected);
    EXPECT_NE(
        errorOutput().find("iqfeeder: " + operand + ": sender " + a + " silent for 0.3 s, ended\n"),
        std::string::npos)
        << errorOutput();
}

// A port another program holds: the run ends with status 1 and its reason, and a service
// manager never hears that it is ready.
TEST_F(NetworkRunTest, PortInUseEndsTheRunBeforeItIsReady) {
    const int holder = bindLoopback(false, false, 0);
    const std::string operand = "tcp://127.0.0.1:" + std::to_string(portOf(holder)) + "?listen";
    struct Notes : ServiceNotifier {
        void notify(const std::string& message) override { said.push_back(message); }
        std::vector<std::string> said;
    } notes;
    ServiceMonitor service(
        notes, [this] { return clockMs; }, 0);
    monitor = &service;

    EXPECT_EQ(runNetwork(operand, 1), 1);
    ::close(holder);

    EXPECT_EQ(output(), preamble(operand) + "Cannot receive on " + operand + "!\n");
    EXPECT_EQ(errorOutput(), "iqfeeder: " + operand + ": Address already in use\n");
    EXPECT_EQ(notes.said, std::vector<std::string>{});
    EXPECT_TRUE(driver.bytes.empty());
}

#ifdef IQFEEDER_HAVE_SRT
// An SRT peer of the tests' own, through libsrt's API: blocking calls, and a close that waits
// until what was sent has been taken.
class SrtPeer {
  public:
    explicit SrtPeer(std::string passphrase = "") : passphrase_(std::move(passphrase)) {
        (void)srt_startup();
        create();
    }
    ~SrtPeer() {
        if (accepted_ != SRT_INVALID_SOCK) {
            srt_close(accepted_);
        }
        srt_close(socket_);
        srt_cleanup();
    }
    SrtPeer(const SrtPeer&) = delete;
    SrtPeer& operator=(const SrtPeer&) = delete;

    // Connected to a listener at `port`, trying for up to 5 s while it is not there yet.
    bool call(std::uint16_t port, int attempts = 50) {
        const Loopback at(false, port);
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (srt_connect(socket_, at.address(), static_cast<int>(at.length)) != SRT_ERROR) {
                return true;
            }
            if (srt_getrejectreason(socket_) == SRT_REJ_BADSECRET) {
                return false;
            }
            srt_close(socket_);
            create();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    std::uint16_t listen(std::uint16_t port) {
        const Loopback at(false, port);
        srt_bind(socket_, at.address(), static_cast<int>(at.length));
        srt_listen(socket_, 1);
        return port;
    }
    void acceptOne() {
        sockaddr_storage from{};
        int length = sizeof from;
        accepted_ = srt_accept(socket_, reinterpret_cast<sockaddr*>(&from), &length);
    }
    // In messages of 7 x 188 bytes, as an encoder sends them.
    void send(const std::vector<std::uint8_t>& bytes) {
        const SRTSOCKET to = accepted_ != SRT_INVALID_SOCK ? accepted_ : socket_;
        for (std::size_t at = 0; at < bytes.size(); at += 1316) {
            const auto size = static_cast<int>(std::min<std::size_t>(1316, bytes.size() - at));
            ASSERT_EQ(
                srt_sendmsg2(to, reinterpret_cast<const char*>(bytes.data() + at), size, nullptr),
                size);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        // Live mode gives up on what is still unsent at a close, whatever the linger.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    void hangUp() {
        srt_close(accepted_);
        accepted_ = SRT_INVALID_SOCK;
    }
    std::uint16_t localPort() const {
        sockaddr_storage local{};
        int length = sizeof local;
        srt_getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    }

  private:
    void create() {
        socket_ = srt_create_socket();
        const linger wait{1, 5};
        srt_setsockflag(socket_, SRTO_LINGER, &wait, sizeof wait);
        if (!passphrase_.empty()) {
            srt_setsockflag(socket_, SRTO_PASSPHRASE, passphrase_.data(),
                            static_cast<int>(passphrase_.size()));
        }
    }

    SRTSOCKET socket_ = SRT_INVALID_SOCK;
    SRTSOCKET accepted_ = SRT_INVALID_SOCK;
    std::string passphrase_;
};

// A caller with the wrong passphrase is refused and said once; the one with the right one is
// read to its end, byte for byte.
TEST_F(NetworkRunTest, SrtListenerTakesACallerWithItsPassphrase) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand =
        "srt://127.0.0.1:" + std::to_string(port) + "?mode=listener&passphrase=*****";
    std::uint16_t from = 0;
    std::thread callers([&] {
        waitUntilBound(true, port);
        {
            SrtPeer wrong("not the passphrase");
            EXPECT_FALSE(wrong.call(port, 1));
        }
        SrtPeer caller("0123456789abc");
        ASSERT_TRUE(caller.call(port));
        from = caller.localPort();
        caller.send(patternBytes(40000));
    });
    RunOptions options;
    std::string why;
    options.network =
        parseNetworkOperand("srt://127.0.0.1:" + std::to_string(port) +
                                "?mode=listener&passphrase=0123456789abc&latency=20000",
                            why);
    ASSERT_TRUE(options.network) << why;
    options.inputPath = operand;
    driver.afterWrite = [this](std::size_t index) { stopAsked = stopAsked || index + 1 == 10; };

    EXPECT_EQ(run(options), 0);
    callers.join();

    const std::string name = "Sender 127.0.0.1:" + std::to_string(from);
    EXPECT_EQ(output(), preamble(operand) + "Waiting for a sender on " + operand + ".....\n" +
                            name + " connected.\n" + progress(32) + progress(40) + name +
                            " ended after 40000 bytes.\n");
    EXPECT_EQ(driver.bytes, padded(0, 40000, 64000));
    EXPECT_EQ(errorOutput(), "iqfeeder: " + operand +
                                 ": a connection from 127.0.0.1 refused: wrong passphrase, or "
                                 "none\n");
}

// The caller connects to a listener of libsrt's own and reads its stream to the end.
TEST_F(NetworkRunTest, SrtCallerReadsAListenersStream) {
    const std::uint16_t port = freePort(true, false);
    const std::string operand = "srt://127.0.0.1:" + std::to_string(port);
    SrtPeer listener;
    listener.listen(port);
    std::thread serving([&] {
        listener.acceptOne();
        listener.send(patternBytes(40000));
        listener.hangUp();
    });

    EXPECT_EQ(runNetwork(operand, 10), 0);
    serving.join();

    const std::string name = "Sender 127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(output(), preamble(operand) + "Connecting to " + operand + ".....\n" + name +
                            " connected.\n" + progress(32) + progress(40) + name +
                            " ended after 40000 bytes.\n");
    EXPECT_EQ(driver.bytes, padded(0, 40000, 64000));
}

bool haveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
}

struct FfmpegCase {
    const char* name;
    const char* ourQuery;     // the run's end
    const char* ffmpegQuery;  // ffmpeg's end
};
void PrintTo(const FfmpegCase& c, std::ostream* out) {
    *out << c.name;
}

class FfmpegSrtTest : public NetworkRunTest, public ::testing::WithParamInterface<FfmpegCase> {};

// ffmpeg's own SRT, as an encoder's operator runs it: an MPEG-TS stream, teed to a file, reaches
// the device byte for byte as that file holds it. Checked while ffmpeg still sends: in SRT's live
// mode what a receiver holds when its sender closes is dropped unread (libsrt stops delivering
// a closing socket's buffer), so a check of the stream's very end would pin libsrt's timing.
TEST_P(FfmpegSrtTest, FfmpegsStreamReachesTheDeviceByteForByte) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const FfmpegCase& c = GetParam();
    const std::uint16_t port = freePort(true, false);
    const std::string operand = "srt://127.0.0.1:" + std::to_string(port) + c.ourQuery;
    const std::string sent = dir.file("sent.ts");
    std::thread encoder([&] {
        // Ended by the run's close, or after its 3 s: either way not checked.
        const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel quiet -re -f lavfi -i "
            "testsrc=d=3:s=320x240:r=25 -c:v mpeg2video -b:v 2M -f tee -map 0 "
            "'[f=mpegts]srt\\://127.0.0.1\\:" +
            // A second of latency, which SRT's receiver takes as its own too: at the default
            // 120 ms it drops what a machine busy with a whole CI run delivers later than that.
            std::to_string(port) + "?pkt_size=1316&latency=1000000" + c.ffmpegQuery +
            "|[f=mpegts]" + sent + "'";
        (void)std::system(command.c_str());
    });
    std::string why;
    RunOptions options;
    options.network = parseNetworkOperand(operand, why);
    ASSERT_TRUE(options.network) << why;
    options.inputPath = operand;
    // Stopped once two whole buffers have gone out.
    driver.afterWrite = [this](std::size_t index) { stopAsked = stopAsked || index + 1 == 10; };

    EXPECT_EQ(run(options), 0);
    encoder.join();

    const std::vector<std::uint8_t> device = driver.bytes;
    ASSERT_EQ(device.size(), 64000U);
    auto expected = testing::readFile(sent);
    ASSERT_GE(expected.size(), device.size());
    expected.resize(device.size());
    EXPECT_EQ(device, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FfmpegSrtTest,
    ::testing::Values(FfmpegCase{"FfmpegCallsOurListener", "?mode=listener", ""},
                      FfmpegCase{"OurCallerCallsFfmpeg", "", "&mode=listener"}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

// Every wait hands the input's figures to the run at least once a second, for the rates and a
// service manager's watchdog, while no sender comes.
TEST(NetworkKindTest, WaitingForASenderHandsOnItsFiguresEveryHalfSecond) {
    const std::uint16_t port = freePort(true, false);
    const std::string text = "udp://127.0.0.1:" + std::to_string(port);
    std::string why;
    const auto operand = parseNetworkOperand(text, why);
    ASSERT_TRUE(operand) << why;
    std::ostringstream out;
    Console console(out);
    std::ostringstream errors;
    Console diagnostics(errors);
    int heard = 0;
    InputSeams seams{console, diagnostics, [](std::uint32_t) {}, [&heard] { return heard >= 3; },
                     [] { ADD_FAILURE() << "idle without the figures"; }};
    seams.network = [&heard](const NetworkFigures& figures) {
        EXPECT_EQ(figures.bytesReceived, 0U);
        ++heard;
    };
    NetworkKind kind(seams, std::make_unique<SocketReader>(*operand, text, console, diagnostics),
                     text);
    const auto start = std::chrono::steady_clock::now();

    EXPECT_EQ(kind.next({}).outcome, Pass::Outcome::Stopped);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1400));
    EXPECT_LT(waited, std::chrono::seconds(3));  // three hand-ons, at least one a second
    EXPECT_EQ(out.str(), "Waiting for a sender on " + text + ".....\n");
}

struct OperandCase {
    const char* operand;
    NetworkOperand::Kind kind;
    const char* host;
    std::uint16_t port;
};

TEST(NetworkOperandTest, SpellingsOfEachKindAreRead) {
    const OperandCase cases[] = {
        {"tcp://encoder.local:5000", NetworkOperand::Kind::TcpClient, "encoder.local", 5000},
        {"tcp://[::1]:1?listen", NetworkOperand::Kind::TcpListener, "::1", 1},
        {"tcp://0.0.0.0:65535/?listen=1", NetworkOperand::Kind::TcpListener, "0.0.0.0", 65535},
        {"udp://[ff02::1]:1234", NetworkOperand::Kind::Udp, "ff02::1", 1234},
        {"udp://239.0.0.1:5004/", NetworkOperand::Kind::Udp, "239.0.0.1", 5004},
    };
    for (const OperandCase& c : cases) {
        std::string why;
        ASSERT_TRUE(looksLikeNetworkOperand(c.operand)) << c.operand;
        const auto operand = parseNetworkOperand(c.operand, why);
        ASSERT_TRUE(operand) << c.operand << ": " << why;
        EXPECT_EQ(operand->kind, c.kind) << c.operand;
        EXPECT_EQ(operand->host, c.host) << c.operand;
        EXPECT_EQ(operand->port, c.port) << c.operand;
    }
    // File paths, Windows drives among them, stay files.
    for (const char* path : {"recording.iq", "-", "C://iq/x.iq", "./tcp://x:1", "1tcp://x:1"}) {
        EXPECT_FALSE(looksLikeNetworkOperand(path)) << path;
    }
}

volatile std::sig_atomic_t stopSignalCaught = 0;

struct StopCase {
    const char* name;
    const char* scheme;  // the operand up to its port
    const char* query;
    bool udp;
    bool ipv6;
    bool refused;  // nobody listens: the wait between attempts
    bool primed;   // a sender connected and its first bytes read: the wait for more
};
void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.name;
}

class NetworkStopTest : public ::testing::TestWithParam<StopCase> {};

// The stop's signal lands after the stop check, just before the wait: the wait ends at once,
// wherever the input waits.
TEST_P(NetworkStopTest, StopEndsTheWaitAtOnce) {
    const StopCase& c = GetParam();
    const std::uint16_t port = freePort(c.udp, c.ipv6);
    const std::string text = std::string(c.scheme) + std::to_string(port) + c.query;
    std::string why;
    const auto operand = parseNetworkOperand(text, why);
    ASSERT_TRUE(operand) << why;
    std::ostringstream out;
    Console console(out);
    SocketReader input(*operand, text, console, console);
    ASSERT_TRUE(input.open()) << out.str();
    std::vector<std::uint8_t> buffer(1000);
    std::size_t delivered = 0;
    int sender = -1;
    if (c.primed) {
        sender = connectWhenListening(c.ipv6, port);
        sendAll(sender, patternBytes(10));
        ASSERT_EQ(input.read(buffer.data(), 10, delivered, {}), SocketReader::ReadStatus::Full);
    }

    struct sigaction caught {};
    caught.sa_handler = [](int) { stopSignalCaught = 1; };
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &caught, &previous);
    stopSignalCaught = 0;
    bool raised = false;
    const auto stopping = [&raised] {
        if (!std::exchange(raised, true)) {
            ::raise(SIGUSR1);
        }
        return stopSignalCaught != 0;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(input.read(buffer.data(), buffer.size(), delivered, {stopping, {}}),
              SocketReader::ReadStatus::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ::sigaction(SIGUSR1, &previous, nullptr);
    if (sender >= 0) {
        ::close(sender);
    }
    EXPECT_NE(out.str().find(c.refused ? "refused" : "Waiting"), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Waits, NetworkStopTest,
    ::testing::Values(StopCase{"Connecting", "tcp://127.0.0.1:", "", false, false, true, false},
                      StopCase{"Accepting", "tcp://[::1]:", "?listen", false, true, false, false},
                      StopCase{"ReceivingFromASender", "tcp://127.0.0.1:", "?listen", false, false,
                               false, true},
                      StopCase{"ReceivingDatagrams", "udp://[::1]:", "", true, true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
