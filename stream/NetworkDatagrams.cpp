// UDP's side of the network input: datagrams received straight into the pass buffer, one
// sender's alone, until that sender falls silent for its time-out.
#include <algorithm>
#include <cstring>

#include "common/ConsoleLines.h"
#include "common/SystemError.h"
#include "stream/NetworkInput.h"

namespace iqfeeder {

void NetworkInput::noteDrops() {
    std::uint32_t raw = 0;
    if (figures_.dropsCounted && listener_.droppedTotal(raw)) {
        dropped_.see(raw);
    }
    figures_.datagramsDropped = dropped_.total();
}

bool NetworkInput::receiveDatagram(std::uint8_t* buffer, std::size_t room, std::size_t& delivered,
                                   bool& none, int& error) {
    net::Address from;
    std::uint32_t raw = 0;
    const long got = listener_.receiveFrom(buffer + delivered, room, spill_.data(), spill_.size(),
                                           from, raw, error);
    none = got < 0;
    if (got < 0) {
        return false;
    }
    if (figures_.dropsCounted) {
        dropped_.see(raw);
        figures_.datagramsDropped = dropped_.total();
    }
    if (!operand_.sources.empty() && !net::isAmong(from, operand_.sources)) {
        ++figures_.refused;
        notes_.refused(from, "datagrams");
        return false;
    }
    if (haveSender_ && !(from == sender_)) {
        // One sender at a time: another takes the stream only once this one fell silent.
        ++figures_.refused;
        notes_.otherSender(from, senderText_);
        return false;
    }
    if (!haveSender_) {
        takeSender(from, true);
    }
    const auto length = static_cast<std::size_t>(got);
    lastHeardMs_ = now();
    senderBytes_ += length;
    figures_.bytesReceived += length;
    delivered += std::min(length, room);
    spillOffset_ = 0;
    spillLength_ = length > room ? length - room : 0;
    return true;
}

NetworkInput::ReadStatus NetworkInput::readDatagrams(std::uint8_t* buffer, std::size_t size,
                                                     std::size_t& delivered,
                                                     const WaitHooks& hooks) {
    while (delivered < size) {
        // What a full buffer left of the last datagram comes first.
        if (spillOffset_ < spillLength_) {
            const std::size_t part = std::min(size - delivered, spillLength_ - spillOffset_);
            std::memcpy(buffer + delivered, spill_.data() + spillOffset_, part);
            delivered += part;
            spillOffset_ += part;
            continue;
        }
        if (!haveSender_ && !saidWaiting_) {
            console_.print(lines::kWaitingForSender, text_.c_str());
            saidWaiting_ = true;
        }
        // The sender's time-out runs from its last datagram, others' datagrams or not.
        const std::uint64_t quiet = timeoutMs();
        if (haveSender_ && quiet != 0 && now() - lastHeardMs_ >= quiet) {
            if (settings_.sayEvents) {
                notes_.silent(senderText_, operand_.timeoutUs);
            }
            endSender(Ending::Ended, 0);
            if (delivered > 0) {
                return ReadStatus::SenderEnded;
            }
            sayEnding();
            continue;
        }
        // Read until the socket is empty; wait only then.
        bool none = false;
        int error = 0;
        (void)receiveDatagram(buffer, size - delivered, delivered, none, error);
        if (none && error != 0) {
            error_ = systemErrorText(error);
            return ReadStatus::Failed;
        }
        if (!none) {
            continue;
        }
        noteDrops();
        // 0 waits for as long as it takes: a sender's time-out waits at least a millisecond.
        const std::uint64_t left =
            haveSender_ && quiet != 0
                ? std::max<std::uint64_t>(1, quiet - std::min(quiet, now() - lastHeardMs_))
                : 0;
        switch (waitFor(listener_, false, hooks, left)) {
            case net::Socket::Wait::Stopped:
                return ReadStatus::Stopped;
            case net::Socket::Wait::Failed:
                return ReadStatus::Failed;
            default:
                break;
        }
    }
    return ReadStatus::Full;
}

}  // namespace iqfeeder
