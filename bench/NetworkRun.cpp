// Feeds a network input at a steady rate, as an encoder would (1316-byte datagrams over UDP,
// the same writes over TCP, 1316-byte messages over SRT), to one receiver at a time, and
// reports what the receiver cost:
//
//   iqfeeder_network_run --kind=udp|tcp|srt [--seconds=10] [--rate=2000000]
//                        [--relay=PROGRAM] [--device] [--strace=FILE]
//
// By default the receiver is the real program with the stand-in library taking every slice at
// once, a device that costs nothing: the input side alone. (--driver=none is no such device:
// each buffer it can't send waits its nominal time, so the program would read far below the
// rate.) With
// --relay it is another program relaying the same input to /dev/null (socat for UDP and TCP,
// srt-live-transmit for SRT), for comparison in the same run. With --device the program drives
// the stand-in library taking the rate as a device would; with --strace it runs under
// `strace -f -c -o FILE`. Prints "RESULT name value" lines for scripts/bench.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#ifdef IQFEEDER_HAVE_SRT
#include <srt/srt.h>
#endif

#include "Children.h"
#include "Options.h"

namespace {

namespace bench = iqfeeder::bench;

constexpr std::size_t kDatagram = 1316;
constexpr long kTickMs = 10;
constexpr double kSettleSeconds = 0.5;

// A port nothing listens on now, from the kernel's ephemeral range.
int freePort(int type) {
    const int probe = ::socket(AF_INET, type, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    const bool ok = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&at), length) == 0 &&
                    ::getsockname(probe, reinterpret_cast<sockaddr*>(&at), &length) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    return ok ? ntohs(at.sin_port) : -1;
}

sockaddr_in loopback(int port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    return at;
}

// One way of sending: connect (retried while the receiver starts), then whole chunks.
struct Sender {
    virtual ~Sender() = default;
    virtual bool connect(int port) = 0;
    virtual bool send(const std::uint8_t* bytes, std::size_t size) = 0;
};

struct SocketSender final : Sender {
    explicit SocketSender(int type) : type_(type) {}
    ~SocketSender() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool connect(int port) override {
        for (const double until = bench::now() + 5; bench::now() < until;) {
            fd_ = ::socket(AF_INET, type_, 0);
            const sockaddr_in at = loopback(port);
            if (fd_ >= 0 &&
                ::connect(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0) {
                return true;
            }
            ::close(fd_);
            fd_ = -1;
            const timespec pause{0, 20000000};
            ::nanosleep(&pause, nullptr);
        }
        return false;
    }
    bool send(const std::uint8_t* bytes, std::size_t size) override {
        // UDP: a datagram the receiver's buffer had no room for is lost, as on a real link.
        const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
        return sent == static_cast<ssize_t>(size) || (type_ == SOCK_DGRAM && sent < 0);
    }

  private:
    int type_;
    int fd_ = -1;
};

#ifdef IQFEEDER_HAVE_SRT
struct SrtSender final : Sender {
    SrtSender() { (void)srt_startup(); }
    ~SrtSender() override {
        if (socket_ != SRT_INVALID_SOCK) {
            (void)srt_close(socket_);
        }
        (void)srt_cleanup();
    }
    bool connect(int port) override {
        for (const double until = bench::now() + 5; bench::now() < until;) {
            socket_ = srt_create_socket();
            const sockaddr_in at = loopback(port);
            if (srt_connect(socket_, reinterpret_cast<const sockaddr*>(&at), sizeof at) !=
                SRT_ERROR) {
                return true;
            }
            (void)srt_close(socket_);
            socket_ = SRT_INVALID_SOCK;
        }
        return false;
    }
    bool send(const std::uint8_t* bytes, std::size_t size) override {
        return srt_sendmsg2(socket_, reinterpret_cast<const char*>(bytes), static_cast<int>(size),
                            nullptr) == static_cast<int>(size);
    }

  private:
    SRTSOCKET socket_ = SRT_INVALID_SOCK;
};
#endif

// Sends `rate` bytes a second for `seconds`, in 1316-byte chunks on a 10 ms beat; the bytes
// sent, or -1 when the receiver could not be reached.
long long feed(Sender& sender, int port, double seconds, long rate) {
    if (!sender.connect(port)) {
        return -1;
    }
    std::vector<std::uint8_t> chunk(kDatagram);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<std::uint8_t>(1 + i % 251);
    }
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    long long sent = 0;
    const auto ticks = static_cast<long long>(seconds * 1000 / kTickMs);
    for (long long tick = 1; tick <= ticks; ++tick) {
        due = bench::after(due, kTickMs);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        const long long target = rate * tick * kTickMs / 1000;
        for (const auto chunkSize = static_cast<long long>(kDatagram); sent + chunkSize <= target;
             sent += chunkSize) {
            if (!sender.send(chunk.data(), chunk.size())) {
                return -1;
            }
        }
    }
    return sent;
}

std::vector<std::string> receiver(const std::string& kind, int port, const std::string& relay,
                                  const std::string& trace) {
    const std::string at = "127.0.0.1:" + std::to_string(port);
    if (!relay.empty()) {
        if (kind == "srt") {
            return {relay, "srt://" + at + "?mode=listener", "file://con"};
        }
        return {relay, "-u",
                kind == "udp" ? "UDP-RECV:" + std::to_string(port)
                              : "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1",
                "OPEN:/dev/null"};
    }
    const std::string operand = kind == "udp"   ? "udp://" + at
                                : kind == "tcp" ? "tcp://" + at + "?listen"
                                                : "srt://" + at + "?mode=listener";
    std::vector<std::string> args;
    if (!trace.empty()) {
        args = {"/usr/bin/strace", "-f", "-c", "-o", trace};
    }
    args.emplace_back(IQFEEDER_PROGRAM);
    args.push_back(operand);
    return args;
}

int harnessMain(int argc, char** argv) {
    const std::string kind = bench::optionValue(argc, argv, "kind", "udp");
    const double seconds =
        std::strtod(bench::optionValue(argc, argv, "seconds", "10").c_str(), nullptr);
    const long rate =
        std::strtol(bench::optionValue(argc, argv, "rate", "2000000").c_str(), nullptr, 10);
    const std::string relay = bench::optionValue(argc, argv, "relay", "");
    const std::string trace = bench::optionValue(argc, argv, "strace", "");
    bool device = false;
    for (int i = 1; i < argc; ++i) {
        device = device || std::strcmp(argv[i], "--device") == 0;
    }
    if ((kind != "udp" && kind != "tcp" && kind != "srt") || seconds <= 0 || rate <= 0) {
        std::fprintf(stderr,
                     "usage: %s --kind=udp|tcp|srt [--seconds=S] [--rate=B] [--relay=P]"
                     " [--device] [--strace=FILE]\n",
                     argv[0]);
        return 2;
    }
#ifndef IQFEEDER_HAVE_SRT
    if (kind == "srt") {
        std::fprintf(stderr, "built without libsrt\n");
        return 2;
    }
#endif
    const int port = freePort(kind == "tcp" ? SOCK_STREAM : SOCK_DGRAM);
    const double startedAt = bench::now();
    std::vector<std::string> environment{"LD_LIBRARY_PATH=" STAND_IN_DIR};
    if (device) {
        environment.push_back("FAKE_FTD2XX_BYTES_PER_SECOND=" + std::to_string(rate));
    }
    const pid_t pid = bench::spawn(receiver(kind, port, relay, trace), environment);
    if (port < 0 || pid < 0) {
        std::fprintf(stderr, "cannot start the receiver\n");
        return 1;
    }
    // Its socket bound before the first datagram, which would otherwise be refused or lost.
    const timespec settle{0, static_cast<long>(kSettleSeconds * 1e9)};
    ::nanosleep(&settle, nullptr);
    long long sent = -1;
    if (kind == "srt") {
#ifdef IQFEEDER_HAVE_SRT
        SrtSender sender;
        sent = feed(sender, port, seconds, rate);
#endif
    } else {
        SocketSender sender(kind == "tcp" ? SOCK_STREAM : SOCK_DGRAM);
        sent = feed(sender, port, seconds, rate);
    }
    // What was sent has arrived before the end is asked for.
    ::nanosleep(&settle, nullptr);
    bench::ChildCost cost;
    if (trace.empty()) {
        cost = bench::reap(pid, startedAt, true);
    } else {
        // The program's own Ctrl-C, so that strace sees it end and writes its counts.
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                               "/children");
        pid_t traced = 0;
        children >> traced;
        if (traced > 0) {
            ::kill(traced, SIGINT);
        }
        cost = bench::reap(pid, startedAt, false);
        cost.ok = cost.wallSeconds > 0;
    }
    // A relay may end on SIGINT with a status of its own: any end of its own will do.
    if (!relay.empty() && cost.wallSeconds > 0) {
        cost.ok = true;
    }
    if (sent < 0 || !cost.ok) {
        std::fprintf(stderr, "the %s run failed (%s)\n", kind.c_str(),
                     sent < 0 ? "the receiver could not be reached" : "the receiver failed");
        return 1;
    }
    std::printf("RESULT bytes_sent %lld\n", sent);
    std::printf("RESULT cpu_seconds %.3f\n", cost.cpuSeconds);
    std::printf("RESULT cpu_percent %.3f\n", 100 * cost.cpuSeconds / cost.wallSeconds);
    std::printf("RESULT peak_rss_kib %ld\n", cost.peakResidentKiB);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return harnessMain(argc, argv);
}
