// A network input's figures, for the rates and the status: its own kind's, handed on with each
// pass and each wait.
#pragma once

#include <cstdint>

namespace iqfeeder {

// What a network input has received, for the rates.
struct NetworkFigures {
    std::uint64_t bytesReceived = 0;
    std::uint64_t datagramsDropped = 0;  // by the kernel, where it counts them
    bool dropsCounted = false;
    // Datagrams and connections of hosts not among sources=, and of senders while another
    // held the stream.
    std::uint64_t refused = 0;
    // Of those, the datagrams: from hosts not among sources=, and from other senders.
    std::uint64_t datagramsNotAllowed = 0;
    std::uint64_t datagramsOtherSender = 0;
    std::uint64_t senders = 0;  // taken so far
    // SRT's own: packets lost for good, and packets sent again.
    bool srt = false;
    std::uint64_t packetsLost = 0;
    std::uint64_t packetsRetransmitted = 0;
};

}  // namespace iqfeeder
