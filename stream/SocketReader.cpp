#include "stream/SocketReader.h"

#include <algorithm>
#include <chrono>

#include "common/ConsoleLines.h"
#include "common/SystemError.h"

namespace iqfeeder {

SocketReader::SocketReader(NetworkOperand operand, std::string text, Console& console,
                           Console& diagnostics, Settings settings)
    : operand_(std::move(operand)),
      text_(std::move(text)),
      console_(console),
      diagnostics_(diagnostics),
      settings_(std::move(settings)),
      notes_(diagnostics, text_) {}

std::uint64_t SocketReader::now() const {
    if (settings_.clock) {
        return settings_.clock();
    }
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool SocketReader::open() {
    if (operand_.kind == NetworkOperand::Kind::TcpClient) {
        return true;
    }
    const bool udp = operand_.kind == NetworkOperand::Kind::Udp;
    std::string why;
    const std::vector<net::Address> addresses =
        net::resolve(operand_.host, operand_.port, udp, why);
    int error = 0;
    bool opened = false;
    if (addresses.empty()) {
        error_ = why;
    } else if (!listener_.open(addresses.front(), udp, error)) {
        error_ = systemErrorText(error);
    } else if (!udp) {
        opened = listener_.listenOn(addresses.front(), error);
    } else {
        const int asked = operand_.bufferSize.value_or(kReceiveBufferBytes);
        int granted = 0;
        opened = listener_.bindForDatagrams(addresses.front(), asked, granted,
                                            figures_.dropsCounted, error);
        if (opened && granted < asked && settings_.sayEvents) {
            diagnostics_.print(
                "iqfeeder: %s: the system gave %d bytes for arriving datagrams, not the %d asked "
                "for: its limit caps it (net.core.rmem_max on Linux)\n",
                text_.c_str(), granted, asked);
        }
        spill_.resize(kLargestDatagram);
    }
    if (!opened) {
        if (error != 0) {
            error_ = systemErrorText(error);
        }
        console_.print(lines::kCantReceive, text_.c_str());
        diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), error_.c_str());
    }
    return opened;
}

SocketReader::ReadStatus SocketReader::read(std::uint8_t* buffer, std::size_t size,
                                            std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    sayEnding();
    if (operand_.kind != NetworkOperand::Kind::Udp) {
        const ReadStatus status = readStream(buffer, size, delivered, hooks);
        scope_.reset();
        return status;
    }
    const ReadStatus status = readDatagrams(buffer, size, delivered, hooks);
    scope_.reset();
    noteDrops();
    notes_.lossStands(figures_.datagramsDropped,
                      "the receive buffer overflowed (raise buffer_size=, or the system's limit)");
    return status;
}

void SocketReader::sayEnding() {
    notes_.sayEnding(console_, ending_, announced_, sender_, senderText_, senderBytes_);
    ending_ = Ending::None;
}

void SocketReader::takeSender(const net::Address& from, bool announce) {
    haveSender_ = true;
    saidWaiting_ = false;
    lastRetryReason_.clear();
    sender_ = from;
    senderText_ = net::addressText(from);
    senderBytes_ = 0;
    lastHeardMs_ = now();
    notes_.newTurn();
    announced_ = false;
    if (announce) {
        announceSender();
    }
}

void SocketReader::announceSender() {
    if (!announced_) {
        announced_ = true;
        ++figures_.senders;
        console_.print(lines::kSenderConnected, senderText_.c_str());
    }
}

void SocketReader::endSender(Ending how, int error) {
    connection_.close();
    haveSender_ = false;
    ending_ = how;
    if (how == Ending::Lost && announced_) {
        diagnostics_.print("iqfeeder: %s: %s: %s\n", text_.c_str(), senderText_.c_str(),
                           systemErrorText(error).c_str());
    }
}

net::Socket::Wait SocketReader::waitFor(const net::Socket& socket, bool writing,
                                        const WaitHooks& hooks, std::uint64_t quietMs) {
    const std::uint64_t start = now();
    for (;;) {
        const std::uint64_t waited = elapsedSince(start);
        if (quietMs != 0 && waited >= quietMs) {
            return net::Socket::Wait::TimedOut;
        }
        const auto slice = static_cast<std::uint32_t>(
            quietMs == 0 ? kIdleEveryMs : std::min<std::uint64_t>(kIdleEveryMs, quietMs - waited));
        int error = 0;
        if (!scope_) {
            // Signals held from the first wait of a read to its end: a read that never waits
            // (the data was there) costs no mask calls.
            scope_.emplace();
        }
        const net::Socket::Wait outcome =
            socket.wait(writing, slice, hooks.stopping, error, &*scope_);
        if (outcome == net::Socket::Wait::Failed) {
            error_ = systemErrorText(error);
        }
        if (outcome == net::Socket::Wait::Interrupted) {
            continue;
        }
        if (outcome != net::Socket::Wait::TimedOut) {
            return outcome;
        }
        if (hooks.idle) {
            hooks.idle();
        }
    }
}

SocketReader::ReadStatus SocketReader::readStream(std::uint8_t* buffer, std::size_t size,
                                                  std::size_t& delivered, const WaitHooks& hooks) {
    const bool client = operand_.kind == NetworkOperand::Kind::TcpClient;
    while (delivered < size) {
        if (!connection_.valid()) {
            const Step step = client ? connect(hooks) : accept(hooks);
            if (step == Step::Stopped) {
                return ReadStatus::Stopped;
            }
            if (step == Step::Failed) {
                return ReadStatus::Failed;
            }
            if (step == Step::Retry) {
                if (waitFor(net::Socket{}, false, hooks, kRetryEveryMs) ==
                    net::Socket::Wait::Stopped) {
                    return ReadStatus::Stopped;
                }
                continue;
            }
            // Said with its first bytes: a sender that sends none is only folded into a note.
            takeSender(sender_, false);
        }
        // Read first, and wait only when there is nothing, for the rest of the buffer at once:
        // a wait before each read, or for each segment, would be a wake a segment.
        int error = 0;
        long got = connection_.receive(buffer + delivered, size - delivered, error);
        if (got < 0 && error == 0) {
            connection_.readAtLeast(size - delivered);
            const net::Socket::Wait waited = waitFor(connection_, false, hooks, timeoutMs());
            if (waited == net::Socket::Wait::Stopped) {
                return ReadStatus::Stopped;
            }
            if (waited == net::Socket::Wait::Failed) {
                return ReadStatus::Failed;
            }
            if (waited != net::Socket::Wait::TimedOut) {
                continue;
            }
            // The wait was for the rest of the buffer: what came short of it is read now, and
            // only a sender that sent nothing at all is silent (a half-open connection, or a
            // sender that hangs).
            got = connection_.receive(buffer + delivered, size - delivered, error);
            if (got < 0 && error == 0) {
                if (settings_.sayEvents) {
                    notes_.silent(senderText_, operand_.timeoutUs);
                }
                got = 0;
            }
        }
        if (got > 0) {
            announceSender();
            delivered += static_cast<std::size_t>(got);
            senderBytes_ += static_cast<std::uint64_t>(got);
            figures_.bytesReceived += static_cast<std::uint64_t>(got);
            continue;
        }
        const bool sentNothing = senderBytes_ == 0;
        endSender(got == 0 ? Ending::Ended : Ending::Lost, error);
        if (delivered > 0) {
            return ReadStatus::SenderEnded;
        }
        sayEnding();
        // A server that closes at once, again and again, is not connected to in a spin.
        if (sentNothing && client &&
            waitFor(net::Socket{}, false, hooks, kRetryEveryMs) == net::Socket::Wait::Stopped) {
            return ReadStatus::Stopped;
        }
    }
    return ReadStatus::Full;
}

}  // namespace iqfeeder
