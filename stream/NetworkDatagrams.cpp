// UDP's side of the network input: datagrams received straight into the pass buffer, one
// sender's alone, until that sender falls silent for its time-out.
#include <algorithm>
#include <cstring>

#include "common/ConsoleLines.h"
#include "common/SystemError.h"
#include "stream/SocketReader.h"

namespace iqfeeder {

void SocketReader::noteDrops() {
    std::uint32_t raw = 0;
    if (figures_.dropsCounted && listener_.droppedTotal(raw)) {
        dropped_.see(raw);
    }
    figures_.datagramsDropped = dropped_.total();
}

bool SocketReader::fromSender(const net::Address& from) {
    if (!operand_.sources.empty() && !net::isAmong(from, operand_.sources)) {
        ++figures_.refused;
        ++figures_.datagramsNotAllowed;
        notes_.refused(from, "datagrams");
        return false;
    }
    if (haveSender_ && !(from == sender_)) {
        // One sender at a time: another takes the stream only once this one fell silent.
        ++figures_.refused;
        ++figures_.datagramsOtherSender;
        notes_.otherSender(from, senderText_);
        return false;
    }
    if (!haveSender_) {
        takeSender(from, true);
    }
    return true;
}

void SocketReader::carry(const std::uint8_t* bytes, std::size_t count) {
    if (spillOffset_ == spillLength_) {
        spillOffset_ = 0;
        spillLength_ = 0;
    }
    if (spill_.size() < spillLength_ + count) {
        spill_.resize(spillLength_ + count);
    }
    std::memcpy(spill_.data() + spillLength_, bytes, count);
    spillLength_ += count;
}

bool SocketReader::receiveDatagram(std::uint8_t* buffer, std::size_t room, std::size_t& delivered,
                                   bool& none, int& error) {
    net::Address from;
    std::uint32_t raw = dropped_.last();
    // Nothing is carried here: the carry is read before anything new.
    const long got = listener_.receiveFrom(buffer + delivered, room, spill_.data(), spill_.size(),
                                           from, raw, error);
    none = got < 0;
    if (got < 0) {
        return false;
    }
    dropped_.see(raw);
    figures_.datagramsDropped = dropped_.total();
    if (!fromSender(from)) {
        return false;
    }
    const auto length = static_cast<std::size_t>(got);
    lastHeardMs_ = now();
    senderBytes_ += length;
    figures_.bytesReceived += length;
    slot_ = length;
    delivered += std::min(length, room);
    spillOffset_ = 0;
    spillLength_ = length > room ? length - room : 0;
    return true;
}

void SocketReader::receiveDatagrams(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                                    bool& none, int& error) {
    const std::size_t count = slot_ == 0 ? 0 : std::min(kBatch, (size - delivered) / slot_);
    if (count < 2) {
        (void)receiveDatagram(buffer, size - delivered, delivered, none, error);
        return;
    }
    if (!batchSpill_) {
        batchSpill_.reset(new std::uint8_t[kBatch * kLargestDatagram]);
    }
    std::uint8_t* const slots = buffer + delivered;
    std::uint32_t raw = dropped_.last();
    const long got =
        listener_.receiveBatch(slots, slot_, batchSpill_.get(), kLargestDatagram, count,
                               batchFrom_.data(), batchLengths_.data(), raw, error);
    none = got <= 0;
    if (got <= 0) {
        return;
    }
    dropped_.see(raw);
    figures_.datagramsDropped = dropped_.total();
    const auto received = static_cast<std::size_t>(got);
    // Each datagram's bytes where it belongs: in place while all fill their slots whole; one
    // that ran into its spill moves the rest of the batch aside first.
    std::array<const std::uint8_t*, kBatch> source{};
    for (std::size_t i = 0; i < received; ++i) {
        source[i] = slots + i * slot_;
    }
    const std::size_t slot = slot_;
    std::size_t at = delivered;
    const auto place = [&](const std::uint8_t* bytes, std::size_t length) {
        const std::size_t fit = std::min(length, size - at);
        if (buffer + at != bytes) {
            std::memmove(buffer + at, bytes, fit);
        }
        at += fit;
        if (fit < length) {
            carry(bytes + fit, length - fit);
        }
    };
    for (std::size_t i = 0; i < received; ++i) {
        const std::size_t length = batchLengths_[i];
        if (!fromSender(batchFrom_[i])) {
            continue;
        }
        lastHeardMs_ = now();
        senderBytes_ += length;
        figures_.bytesReceived += length;
        slot_ = length;
        const std::size_t inSlot = std::min(length, slot);
        if (length > slot && i + 1 < received && source[i + 1] >= buffer &&
            source[i + 1] < buffer + size) {
            later_.resize((received - i - 1) * slot);
            for (std::size_t j = i + 1; j < received; ++j) {
                std::memcpy(later_.data() + (j - i - 1) * slot, source[j],
                            std::min(batchLengths_[j], slot));
                source[j] = later_.data() + (j - i - 1) * slot;
            }
        }
        place(source[i], inSlot);
        if (length > slot) {
            place(batchSpill_.get() + i * kLargestDatagram, length - slot);
        }
    }
    delivered = at;
}

std::uint64_t SocketReader::gatherMs(std::size_t room) const {
    // Never longer than a small part of what the kernel holds, nor than the time-out left.
    constexpr double kLongestGatherMs = 50;
    if (!haveSender_ || bytesPerMs_ <= 0) {
        return 0;
    }
    const double fill = std::min(kLongestGatherMs, static_cast<double>(room) / bytesPerMs_);
    return fill < 2 ? 0 : static_cast<std::uint64_t>(fill);
}

SocketReader::ReadStatus SocketReader::readDatagrams(std::uint8_t* buffer, std::size_t size,
                                                     std::size_t& delivered,
                                                     const WaitHooks& hooks) {
    bool gathered = false;
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
        receiveDatagrams(buffer, size, delivered, none, error);
        if (none && error != 0) {
            error_ = systemErrorText(error);
            return ReadStatus::Failed;
        }
        if (!none) {
            gathered = false;
            continue;
        }
        // Empty before the buffer is whole: let the rest gather for about the time it takes
        // to come, then read it in one go.
        if (const std::uint64_t gather = gatherMs(size - delivered); gather != 0 && !gathered) {
            gathered = true;
            if (waitFor(net::Socket{}, false, hooks, gather) == net::Socket::Wait::Stopped) {
                return ReadStatus::Stopped;
            }
            continue;
        }
        gathered = false;
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
    noteFull(size);
    return ReadStatus::Full;
}

void SocketReader::noteFull(std::size_t size) {
    const std::uint64_t at = now();
    if (lastFullMs_ != 0 && at > lastFullMs_) {
        const double rate = static_cast<double>(size) / static_cast<double>(at - lastFullMs_);
        bytesPerMs_ = bytesPerMs_ <= 0 ? rate : (bytesPerMs_ + rate) / 2;
    }
    lastFullMs_ = at;
}

}  // namespace iqfeeder
