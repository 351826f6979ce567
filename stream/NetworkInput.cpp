#include "stream/NetworkInput.h"

#include <algorithm>
#include <cstring>

#include "common/SystemError.h"

namespace iqfeeder {
NetworkInput::NetworkInput(NetworkOperand operand, std::string text, Console& console,
                           Console& diagnostics)
    : operand_(std::move(operand)),
      text_(std::move(text)),
      console_(console),
      diagnostics_(diagnostics) {}

bool NetworkInput::open() {
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
        int granted = 0;
        opened = listener_.bindForDatagrams(addresses.front(), kReceiveBufferBytes, granted,
                                            figures_.dropsCounted, error);
        if (opened && granted < kReceiveBufferBytes) {
            diagnostics_.print(
                "iqfeeder: %s: the kernel gave %d bytes for arriving datagrams, not the %d asked "
                "for: its limit caps it (net.core.rmem_max on Linux)\n",
                text_.c_str(), granted, kReceiveBufferBytes);
        }
        datagram_.resize(kLargestDatagram);
    }
    if (!opened) {
        if (error != 0) {
            error_ = systemErrorText(error);
        }
        console_.print("Cannot receive on %s!\n", text_.c_str());
        diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), error_.c_str());
    }
    return opened;
}

NetworkInput::ReadStatus NetworkInput::read(std::uint8_t* buffer, std::size_t size,
                                            std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    sayEnding();
    return operand_.kind == NetworkOperand::Kind::Udp
               ? readDatagrams(buffer, size, delivered, hooks)
               : readStream(buffer, size, delivered, hooks);
}

void NetworkInput::sayEnding() {
    if (ending_ == Ending::Ended) {
        console_.print("Sender %s ended after %llu bytes.\n", senderText_.c_str(),
                       static_cast<unsigned long long>(senderBytes_));
    } else if (ending_ == Ending::Lost) {
        console_.print("Connection to sender %s lost after %llu bytes!\n", senderText_.c_str(),
                       static_cast<unsigned long long>(senderBytes_));
    }
    ending_ = Ending::None;
}

void NetworkInput::endSender(Ending how, int error) {
    connection_.close();
    haveSender_ = false;
    ending_ = how;
    if (how == Ending::Lost) {
        diagnostics_.print("iqfeeder: %s: %s: %s\n", text_.c_str(), senderText_.c_str(),
                           systemErrorText(error).c_str());
    }
}

net::Socket::Wait NetworkInput::waitFor(const net::Socket& socket, bool writing,
                                        const WaitHooks& hooks, std::uint32_t quietMs) {
    std::uint32_t waited = 0;
    for (;;) {
        const std::uint32_t slice =
            quietMs == 0 ? kIdleEveryMs : std::min(kIdleEveryMs, quietMs - waited);
        int error = 0;
        const net::Socket::Wait outcome = socket.wait(writing, slice, hooks.stopping, error);
        if (outcome == net::Socket::Wait::Failed) {
            error_ = systemErrorText(error);
        }
        if (outcome != net::Socket::Wait::TimedOut) {
            if (outcome != net::Socket::Wait::Interrupted) {
                return outcome;
            }
            continue;
        }
        if (hooks.idle) {
            hooks.idle();
        }
        waited += slice;
        if (quietMs != 0 && waited >= quietMs) {
            return outcome;
        }
    }
}

void NetworkInput::cannotConnect(int error, const std::string& why) {
    if (why == lastRetryReason_) {
        return;
    }
    lastRetryReason_ = why;
    if (net::isRefusal(error)) {
        console_.print("Connection to %s refused, trying again every second.....\n", text_.c_str());
        return;
    }
    console_.print("Cannot connect to %s, trying again every second.....\n", text_.c_str());
    diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), why.c_str());
}

NetworkInput::Step NetworkInput::connect(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print("Connecting to %s.....\n", text_.c_str());
        saidWaiting_ = true;
    }
    std::string why;
    const std::vector<net::Address> addresses =
        net::resolve(operand_.host, operand_.port, false, why);
    int error = 0;
    for (const net::Address& address : addresses) {
        net::Socket socket;
        if (!socket.open(address, false, error) || !socket.startConnect(address, error)) {
            continue;
        }
        const net::Socket::Wait waited = waitFor(socket, true, hooks, 0);
        if (waited == net::Socket::Wait::Stopped) {
            return Step::Stopped;
        }
        error = waited == net::Socket::Wait::Ready ? socket.connectResult() : error;
        if (waited == net::Socket::Wait::Ready && error == 0) {
            connection_ = std::move(socket);
            sender_ = address;
            return Step::Done;
        }
    }
    cannotConnect(error, addresses.empty() ? why : systemErrorText(error));
    return Step::Retry;
}

NetworkInput::Step NetworkInput::accept(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print("Waiting for a sender on %s.....\n", text_.c_str());
        saidWaiting_ = true;
    }
    for (;;) {
        switch (waitFor(listener_, false, hooks, 0)) {
            case net::Socket::Wait::Stopped:
                return Step::Stopped;
            case net::Socket::Wait::Failed:
                return Step::Failed;
            default:
                break;
        }
        int error = 0;
        connection_ = listener_.accept(sender_, error);
        if (connection_.valid()) {
            return Step::Done;
        }
        if (error != 0) {
            // Out of descriptors, say: the sender waits in the backlog while we pause.
            diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), systemErrorText(error).c_str());
            return Step::Retry;
        }
    }
}

NetworkInput::ReadStatus NetworkInput::readStream(std::uint8_t* buffer, std::size_t size,
                                                  std::size_t& delivered, const WaitHooks& hooks) {
    while (delivered < size) {
        if (!connection_.valid()) {
            const Step step =
                operand_.kind == NetworkOperand::Kind::TcpClient ? connect(hooks) : accept(hooks);
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
            haveSender_ = true;
            saidWaiting_ = false;
            lastRetryReason_.clear();
            senderBytes_ = 0;
            senderText_ = net::addressText(sender_);
            ++figures_.senders;
            console_.print("Sender %s connected.\n", senderText_.c_str());
        }
        const net::Socket::Wait waited = waitFor(connection_, false, hooks, 0);
        if (waited == net::Socket::Wait::Stopped) {
            return ReadStatus::Stopped;
        }
        if (waited == net::Socket::Wait::Failed) {
            return ReadStatus::Failed;
        }
        int error = 0;
        const long got = connection_.receive(buffer + delivered, size - delivered, error);
        if (got > 0) {
            delivered += static_cast<std::size_t>(got);
            senderBytes_ += static_cast<std::uint64_t>(got);
            figures_.bytesReceived += static_cast<std::uint64_t>(got);
            continue;
        }
        if (got < 0 && error == 0) {
            continue;  // woken for nothing
        }
        const bool sentNothing = senderBytes_ == 0;
        endSender(got == 0 ? Ending::Ended : Ending::Lost, error);
        if (delivered > 0) {
            return ReadStatus::SenderEnded;
        }
        sayEnding();
        // A server that closes at once, again and again, is not connected to in a spin.
        if (sentNothing && operand_.kind == NetworkOperand::Kind::TcpClient &&
            waitFor(net::Socket{}, false, hooks, kRetryEveryMs) == net::Socket::Wait::Stopped) {
            return ReadStatus::Stopped;
        }
    }
    return ReadStatus::Full;
}

NetworkInput::ReadStatus NetworkInput::readDatagrams(std::uint8_t* buffer, std::size_t size,
                                                     std::size_t& delivered,
                                                     const WaitHooks& hooks) {
    while (delivered < size) {
        // What a full buffer left of the last datagram comes first.
        if (datagramOffset_ < datagramLength_) {
            const std::size_t part = std::min(size - delivered, datagramLength_ - datagramOffset_);
            std::memcpy(buffer + delivered, datagram_.data() + datagramOffset_, part);
            delivered += part;
            datagramOffset_ += part;
            continue;
        }
        if (!haveSender_ && !saidWaiting_) {
            console_.print("Waiting for a sender on %s.....\n", text_.c_str());
            saidWaiting_ = true;
        }
        switch (waitFor(listener_, false, hooks, haveSender_ ? kQuietEndsSenderMs : 0)) {
            case net::Socket::Wait::Stopped:
                return ReadStatus::Stopped;
            case net::Socket::Wait::Failed:
                return ReadStatus::Failed;
            case net::Socket::Wait::TimedOut:
                endSender(Ending::Ended, 0);
                if (delivered > 0) {
                    return ReadStatus::SenderEnded;
                }
                sayEnding();
                continue;
            default:
                break;
        }
        net::Address from;
        int error = 0;
        const long got =
            listener_.receiveFrom(datagram_.data(), datagram_.size(), from, droppedTotal_, error);
        if (got < 0 && error != 0) {
            error_ = systemErrorText(error);
            return ReadStatus::Failed;
        }
        figures_.datagramsDropped = droppedTotal_;
        if (got <= 0) {
            continue;
        }
        if (!haveSender_ || !(from == sender_)) {
            haveSender_ = true;
            saidWaiting_ = false;
            sender_ = from;
            senderText_ = net::addressText(from);
            senderBytes_ = 0;
            ++figures_.senders;
            console_.print("Sender %s connected.\n", senderText_.c_str());
        }
        datagramOffset_ = 0;
        datagramLength_ = static_cast<std::size_t>(got);
        senderBytes_ += datagramLength_;
        figures_.bytesReceived += datagramLength_;
    }
    return ReadStatus::Full;
}

}  // namespace iqfeeder
