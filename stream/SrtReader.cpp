#include "stream/SrtReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/ConsoleLines.h"

namespace iqfeeder {
namespace {

// libsrt's own log lines would say on standard error what our lines already say.
constexpr int kLogCriticalOnly = 2;

bool isWildcardV6(const net::Address& address) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, address.bytes.data(), std::min<std::size_t>(sizeof in6, address.length));
    return in6.sin6_family == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr);
}

int familyOf(const net::Address& address) {
    sockaddr header{};
    std::memcpy(&header, address.bytes.data(), sizeof header);
    return header.sa_family;
}

}  // namespace

SrtReader::SrtReader(NetworkOperand operand, std::string text, Console& console,
                     Console& diagnostics, Settings settings)
    : operand_(std::move(operand)),
      text_(std::move(text)),
      console_(console),
      diagnostics_(diagnostics),
      settings_(std::move(settings)),
      notes_(diagnostics, text_),
      spill_(SRT_LIVE_MAX_PLSIZE) {
    figures_.srt = true;
    if (!loadSrtCalls(srt_, loadError_)) {
        return;
    }
    (void)srt_.startup();
    srt_.setloglevel(kLogCriticalOnly);
    epoll_ = srt_.epoll_create();
}

SrtReader::~SrtReader() {
    closeSocket(connection_);
    closeSocket(listener_);
    if (epoll_ != kInvalid) {
        (void)srt_.epoll_release(epoll_);
    }
    if (srt_.cleanup != nullptr) {
        (void)srt_.cleanup();
    }
}

bool SrtReader::open() {
    if (srt_.startup == nullptr) {
        error_ = loadError_;
        diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), error_.c_str());
        return false;
    }
    if (operand_.kind == NetworkOperand::Kind::SrtCaller) {
        return true;
    }
    std::string why;
    const std::vector<net::Address> addresses =
        net::resolve(operand_.host, operand_.port, true, why);
    bool opened = false;
    if (addresses.empty()) {
        error_ = why;
    } else if ((listener_ = newSocket(true)) == kInvalid) {
        error_ = lastErrorText(srt_);
    } else {
        const net::Address& at = addresses.front();
        if (familyOf(at) == AF_INET6) {
            // "[::]" takes IPv4 callers too; any other IPv6 address, itself alone.
            (void)setFlag(srt_, listener_, SRTO_IPV6ONLY, isWildcardV6(at) ? 0 : 1);
        }
        opened = srt_.bind(listener_, reinterpret_cast<const sockaddr*>(at.bytes.data()),
                           static_cast<int>(at.length)) == 0 &&
                 srt_.listen(listener_, 8) == 0;
        if (!opened) {
            error_ = lastErrorText(srt_);
        }
    }
    if (!opened) {
        closeSocket(listener_);
        console_.print(lines::kCantReceive, text_.c_str());
        diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), error_.c_str());
    }
    return opened;
}

void SrtReader::takeSender(int socket, const net::Address& from) {
    ++figures_.senders;
    connection_ = socket;
    sender_ = from;
    senderText_ = net::addressText(from);
    senderBytes_ = 0;
    saidWaiting_ = false;
    lastRetryReason_.clear();
    notes_.newTurn();
    // Said with its first bytes: a caller that sends none is only folded into a note.
    announced_ = false;
}

void SrtReader::endSender(Ending how, const std::string& why) {
    noteCounts();
    lostBefore_ = figures_.packetsLost;
    retransmittedBefore_ = figures_.packetsRetransmitted;
    closeSocket(connection_);
    ending_ = how;
    if (how == Ending::Lost && announced_) {
        diagnostics_.print("iqfeeder: %s: %s: %s\n", text_.c_str(), senderText_.c_str(),
                           why.c_str());
    }
}

void SrtReader::sayEnding() {
    notes_.sayEnding(console_, ending_, announced_, sender_, senderText_, senderBytes_);
    ending_ = Ending::None;
}

bool SrtReader::admit(int socket, const net::Address& from) {
    if (!operand_.sources.empty() && !net::isAmong(from, operand_.sources)) {
        ++figures_.refused;
        notes_.refused(from, "a connection");
        return false;
    }
    int state = SRT_KM_S_UNSECURED;
    int length = sizeof state;
    (void)srt_.getsockflag(socket, SRTO_RCVKMSTATE, &state, &length);
    const bool wanted =
        operand_.passphrase.empty() ? state == SRT_KM_S_UNSECURED : state == SRT_KM_S_SECURED;
    if (!wanted) {
        ++figures_.refused;
        notes_.wrongPassphrase(from, operand_.passphrase.empty());
        return false;
    }
    return true;
}

SrtReader::Step SrtReader::accept(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print(lines::kWaitingForSender, text_.c_str());
        saidWaiting_ = true;
    }
    for (;;) {
        switch (waitFor(listener_, false, hooks, 0)) {
            case Wait::Stopped:
                return Step::Stopped;
            case Wait::Failed:
                return Step::Failed;
            default:
                break;
        }
        net::Address from;
        int length = static_cast<int>(from.bytes.size());
        int taken = srt_.accept(listener_, reinterpret_cast<sockaddr*>(from.bytes.data()), &length);
        if (taken == SRT_INVALID_SOCK) {
            continue;  // woken for nothing, or a caller gone again
        }
        from.length = static_cast<std::uint32_t>(length);
        from = net::unmapped(from);
        if (!admit(taken, from)) {
            // Closed before anything of it is read.
            closeSocket(taken);
            continue;
        }
        takeSender(taken, from);
        return Step::Done;
    }
}

SrtReader::ReadStatus SrtReader::read(std::uint8_t* buffer, std::size_t size,
                                      std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    sayEnding();
    const bool caller = operand_.kind == NetworkOperand::Kind::SrtCaller;
    while (delivered < size) {
        if (spillOffset_ < spillLength_) {
            const std::size_t part = std::min(size - delivered, spillLength_ - spillOffset_);
            std::memcpy(buffer + delivered, spill_.data() + spillOffset_, part);
            delivered += part;
            spillOffset_ += part;
            continue;
        }
        if (connection_ == kInvalid) {
            const Step step = caller ? connect(hooks) : accept(hooks);
            if (step == Step::Stopped) {
                return ReadStatus::Stopped;
            }
            if (step == Step::Failed) {
                return ReadStatus::Failed;
            }
            if (step == Step::Retry) {
                if (pause(hooks, kRetryEveryMs) == Wait::Stopped) {
                    return ReadStatus::Stopped;
                }
                continue;
            }
        }
        // Straight into the buffer while a whole message fits there.
        const std::size_t room = size - delivered;
        const bool fits = room >= SRT_LIVE_MAX_PLSIZE;
        const int got = srt_.recvmsg(
            connection_, reinterpret_cast<char*>(fits ? buffer + delivered : spill_.data()),
            static_cast<int>(fits ? room : spill_.size()));
        if (got > 0) {
            if (!announced_) {
                announced_ = true;
                console_.print(lines::kSenderConnected, senderText_.c_str());
            }
            const auto length = static_cast<std::size_t>(got);
            senderBytes_ += length;
            figures_.bytesReceived += length;
            if (fits) {
                delivered += length;
            } else {
                spillOffset_ = 0;
                spillLength_ = length;
            }
            continue;
        }
        if (srt_.getlasterror(nullptr) == SRT_EASYNCRCV) {
            const Wait waited = waitFor(connection_, false, hooks, timeoutMs());
            if (waited == Wait::Stopped) {
                return ReadStatus::Stopped;
            }
            if (waited == Wait::Ready) {
                continue;
            }
            if (waited == Wait::TimedOut && settings_.sayEvents) {
                notes_.silent(senderText_, operand_.timeoutUs);
            }
            endSender(waited == Wait::TimedOut ? Ending::Ended : Ending::Lost, error_);
        } else {
            // A caller that closed, or a link SRT gave up on: the stream's end either way.
            endSender(Ending::Ended, lastErrorText(srt_));
        }
        if (delivered > 0) {
            return ReadStatus::SenderEnded;
        }
        sayEnding();
        if (caller && pause(hooks, kRetryEveryMs) == Wait::Stopped) {
            return ReadStatus::Stopped;
        }
    }
    noteCounts();
    return ReadStatus::Full;
}

}  // namespace iqfeeder
