// A network input written as encoders' users write their endpoints: tcp://HOST:PORT (a sender
// that serves the stream), tcp://ADDR:PORT?listen (senders connect here, one at a time),
// udp://ADDR:PORT (datagrams are received here; a multicast ADDR joins its group) and
// srt://ADDR:PORT?mode=listener or srt://HOST:PORT (a caller, as ffmpeg has it). IPv6 addresses
// go in brackets. The query takes ffmpeg's options where it has one for the need: sources=,
// timeout= (microseconds), buffer_size= (bytes), and SRT's mode=, latency=, passphrase=,
// pbkeylen= and streamid=. The endpoint's name is resolved when the input opens; the sources'
// names when the operand is read, so that one that does not resolve is a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stream/NetworkSocket.h"

namespace iqfeeder {

struct NetworkOperand {
    enum class Kind { TcpClient, TcpListener, Udp, SrtListener, SrtCaller };

    // A sender that sends nothing for this long has ended (ffmpeg's default is none at all;
    // a half-open connection would then hold the input for good).
    static constexpr std::uint64_t kDefaultTimeoutUs = 5000000;

    Kind kind = Kind::TcpClient;
    std::string host;  // a name or an address; IPv6 without its brackets
    std::uint16_t port = 0;
    // The only hosts that may send (any port); empty: anyone.
    std::vector<net::Address> sources;
    std::uint64_t timeoutUs = kDefaultTimeoutUs;  // 0: never
    std::optional<int> bufferSize;                // the receive buffer asked for
    // SRT only.
    std::optional<std::uint64_t> latencyUs;
    std::string passphrase;  // empty: not encrypted
    std::optional<int> keyLength;
    std::string streamId;

    bool listens() const { return kind != Kind::TcpClient && kind != Kind::SrtCaller; }
    bool isSrt() const { return kind == Kind::SrtListener || kind == Kind::SrtCaller; }
};

// Written as a URL ("scheme://..."), so never a file path. A scheme of one letter is a Windows
// drive ("C://recordings/x.iq").
bool looksLikeNetworkOperand(const std::string& operand);

// The operand read, or nothing with `error` saying why (a usage error).
std::optional<NetworkOperand> parseNetworkOperand(const std::string& operand, std::string& error);

// The operand as the console and the log may show it: a passphrase's value hidden.
std::string shownNetworkOperand(const std::string& operand);

// Whether this build takes srt:// (libsrt was found when it was built).
bool haveSrtInput();

}  // namespace iqfeeder
