// A network input written as encoders' users write their endpoints: tcp://HOST:PORT (a sender
// that serves the stream), tcp://ADDR:PORT?listen (senders connect here, one at a time) and
// udp://ADDR:PORT (datagrams are received here; a multicast ADDR joins its group). IPv6
// addresses go in brackets; names are resolved when the input opens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iqfeeder {

struct NetworkOperand {
    enum class Kind { TcpClient, TcpListener, Udp };

    Kind kind = Kind::TcpClient;
    std::string host;  // a name or an address; IPv6 without its brackets
    std::uint16_t port = 0;
};

// Written as a URL ("scheme://..."), so never a file path. A scheme of one letter is a Windows
// drive ("C://recordings/x.iq").
bool looksLikeNetworkOperand(const std::string& operand);

// The operand read, or nothing with `error` saying why (a usage error).
std::optional<NetworkOperand> parseNetworkOperand(const std::string& operand, std::string& error);

}  // namespace iqfeeder
