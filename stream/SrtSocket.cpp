// SRT's side of the socket work: each socket made with the operand's options, a caller's connect,
// the waits in slices a stop and the watchdog can get between, and SRT's own counts.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "common/ConsoleLines.h"
#include "stream/SrtReader.h"

namespace iqfeeder {
namespace {

bool setText(const SrtCalls& srt, int socket, SRT_SOCKOPT option, const std::string& value) {
    return srt.setsockflag(socket, option, value.data(), static_cast<int>(value.size())) == 0;
}

}  // namespace

std::uint64_t SrtReader::now() const {
    if (settings_.clock) {
        return settings_.clock();
    }
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void SrtReader::closeSocket(int& socket) {
    if (socket == kInvalid) {
        return;
    }
    if (socket == watched_) {
        (void)srt_.epoll_remove_usock(epoll_, socket);
        watched_ = kInvalid;
    }
    (void)srt_.close(socket);
    socket = kInvalid;
}

int SrtReader::newSocket(bool listener) {
    const int socket = srt_.create_socket();
    if (socket == SRT_INVALID_SOCK) {
        return kInvalid;
    }
    // Every wait is ours, in slices that a stop and the watchdog can get between.
    (void)setFlag(srt_, socket, SRTO_RCVSYN, 0);
    (void)setFlag(srt_, socket, SRTO_SNDSYN, 0);
    (void)setFlag(srt_, socket, SRTO_TRANSTYPE, SRTT_LIVE);
    if (operand_.latencyUs) {
        (void)setFlag(srt_, socket, SRTO_LATENCY, static_cast<int>(*operand_.latencyUs / 1000));
    }
    if (!operand_.passphrase.empty()) {
        (void)setText(srt_, socket, SRTO_PASSPHRASE, operand_.passphrase);
    }
    if (operand_.keyLength) {
        (void)setFlag(srt_, socket, SRTO_PBKEYLEN, *operand_.keyLength);
    }
    if (!operand_.streamId.empty()) {
        (void)setText(srt_, socket, SRTO_STREAMID, operand_.streamId);
    }
    if (operand_.bufferSize) {
        (void)setFlag(srt_, socket, SRTO_UDP_RCVBUF, *operand_.bufferSize);
    }
    if (listener) {
        // A caller with the wrong passphrase (or none) is let through SRT's handshake, so
        // that it is seen, said and closed here rather than refused unseen.
        (void)setFlag(srt_, socket, SRTO_ENFORCEDENCRYPTION, 0);
    } else if (operand_.timeoutUs != 0) {
        (void)setFlag(srt_, socket, SRTO_CONNTIMEO,
                      static_cast<int>(std::min<std::uint64_t>(timeoutMs(), 60000)));
    }
    return socket;
}

SrtReader::Wait SrtReader::pause(const WaitHooks& hooks, std::uint32_t milliseconds) {
    const std::uint64_t start = now();
    while (elapsedSince(start) < milliseconds) {
        if (hooks.stopping && hooks.stopping()) {
            return Wait::Stopped;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopAskedEveryMs));
    }
    return Wait::TimedOut;
}

SrtReader::Wait SrtReader::waitFor(int socket, bool writing, const WaitHooks& hooks,
                                   std::uint64_t quietMs) {
    const int events =
        static_cast<int>(writing ? SRT_EPOLL_OUT : SRT_EPOLL_IN) | static_cast<int>(SRT_EPOLL_ERR);
    if (watched_ != socket || watchedEvents_ != events) {
        if (watched_ != kInvalid) {
            (void)srt_.epoll_remove_usock(epoll_, watched_);
        }
        if (srt_.epoll_add_usock(epoll_, socket, &events) != 0) {
            error_ = lastErrorText(srt_);
            return Wait::Failed;
        }
        watched_ = socket;
        watchedEvents_ = events;
    }
    const std::uint64_t start = now();
    std::uint64_t lastIdle = start;
    for (;;) {
        if (hooks.stopping && hooks.stopping()) {
            return Wait::Stopped;
        }
        const std::uint64_t at = now();
        if (quietMs != 0 && elapsedSince(start) >= quietMs) {
            return Wait::TimedOut;
        }
        if (at - lastIdle >= kIdleEveryMs) {
            lastIdle = at;
            if (hooks.idle) {
                hooks.idle();
            }
        }
        SRT_EPOLL_EVENT ready{};
        const int count = srt_.epoll_uwait(epoll_, &ready, 1, kStopAskedEveryMs);
        if (count > 0) {
            return Wait::Ready;
        }
        if (count < 0 && srt_.getlasterror(nullptr) != SRT_ETIMEOUT) {
            error_ = lastErrorText(srt_);
            return Wait::Failed;
        }
    }
}

SrtReader::Step SrtReader::connect(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print(lines::kConnecting, text_.c_str());
        saidWaiting_ = true;
    }
    net::Lookup lookup(operand_.host, operand_.port, true);
    while (!lookup.wait(kIdleEveryMs)) {
        if (hooks.stopping && hooks.stopping()) {
            return Step::Stopped;
        }
        if (hooks.idle) {
            hooks.idle();
        }
    }
    std::string why;
    const std::vector<net::Address> addresses = lookup.addresses(why);
    bool rejected = false;
    for (const net::Address& address : addresses) {
        int socket = newSocket(false);
        if (socket == kInvalid ||
            srt_.connect(socket, reinterpret_cast<const sockaddr*>(address.bytes.data()),
                         static_cast<int>(address.length)) == SRT_ERROR) {
            why = lastErrorText(srt_);
            closeSocket(socket);
            continue;
        }
        // SRT gives up on its own after SRTO_CONNTIMEO; timeout=0 waits for as long as it takes.
        const Wait waited = waitFor(socket, true, hooks, 0);
        if (waited == Wait::Stopped) {
            closeSocket(socket);
            return Step::Stopped;
        }
        if (waited == Wait::Ready && srt_.getsockstate(socket) == SRTS_CONNECTED) {
            takeSender(socket, address);
            return Step::Done;
        }
        const int reason = srt_.getrejectreason(socket);
        rejected = reason != SRT_REJ_TIMEOUT && reason != SRT_REJ_UNKNOWN;
        why = reason == SRT_REJ_BADSECRET ? "the listener refused the passphrase"
                                          : srt_.rejectreason_str(reason);
        closeSocket(socket);
    }
    if (why != lastRetryReason_) {
        lastRetryReason_ = why;
        console_.print(rejected ? lines::kConnectionRefused : lines::kCannotConnect, text_.c_str());
        diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), why.c_str());
    }
    return Step::Retry;
}

void SrtReader::noteCounts() {
    if (connection_ == kInvalid) {
        return;
    }
    SRT_TRACEBSTATS stats{};
    if (srt_.bstats(connection_, &stats, 0) != 0) {
        return;
    }
    figures_.packetsLost =
        lostBefore_ + static_cast<std::uint64_t>(std::max(0, stats.pktRcvLossTotal));
    figures_.packetsRetransmitted =
        retransmittedBefore_ + static_cast<std::uint64_t>(std::max(0, stats.pktRcvRetrans));
}

}  // namespace iqfeeder
