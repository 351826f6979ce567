#include "stream/NetworkOperand.h"

#include <algorithm>
#include <cctype>

namespace iqfeeder {
namespace {

constexpr const char* kSeparator = "://";

bool isSchemeCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    const int port = std::stoi(text);
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

}  // namespace

bool looksLikeNetworkOperand(const std::string& operand) {
    const std::size_t end = operand.find(kSeparator);
    return end != std::string::npos && end >= 2 &&
           std::isalpha(static_cast<unsigned char>(operand[0])) != 0 &&
           std::all_of(operand.begin(), operand.begin() + static_cast<std::ptrdiff_t>(end),
                       isSchemeCharacter);
}

std::optional<NetworkOperand> parseNetworkOperand(const std::string& operand, std::string& error) {
    const std::string malformed = "malformed network input '" + operand +
                                  "': give tcp://HOST:PORT, tcp://ADDR:PORT?listen or "
                                  "udp://ADDR:PORT";
    const std::size_t schemeEnd = operand.find(kSeparator);
    const std::string scheme = operand.substr(0, schemeEnd);
    NetworkOperand result;
    if (scheme == "udp") {
        result.kind = NetworkOperand::Kind::Udp;
    } else if (scheme != "tcp") {
        error = "unknown network input scheme '" + scheme + "://': give tcp:// or udp://";
        return std::nullopt;
    }

    std::string rest = operand.substr(schemeEnd + 3);
    const std::size_t queryStart = rest.find('?');
    const std::string query = queryStart == std::string::npos ? "" : rest.substr(queryStart + 1);
    if (queryStart != std::string::npos) {
        rest.resize(queryStart);
    }
    if (rest.ends_with('/')) {
        rest.pop_back();  // "tcp://host:5000/?listen", as ffmpeg takes it too
    }

    std::size_t portStart = 0;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close == 1 || close + 1 >= rest.size() ||
            rest[close + 1] != ':') {
            error = malformed;
            return std::nullopt;
        }
        result.host = rest.substr(1, close - 1);
        portStart = close + 2;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            error = malformed;
            return std::nullopt;
        }
        result.host = rest.substr(0, colon);
        portStart = colon + 1;
    }
    // An IPv6 address without brackets, a path, a user: not what an endpoint looks like.
    const bool bracketed = rest.starts_with('[');
    if (result.host.find_first_of(bracketed ? "[]/@?#" : ":[]/@?#") != std::string::npos) {
        error = malformed;
        return std::nullopt;
    }
    const std::string portText = rest.substr(portStart);
    const auto port = parsePort(portText);
    if (!port) {
        error =
            "invalid port '" + portText + "' in '" + operand + "': give a number from 1 to 65535";
        return std::nullopt;
    }
    result.port = *port;

    if (query.empty()) {
        return result;
    }
    if (result.kind == NetworkOperand::Kind::TcpClient &&
        (query == "listen" || query == "listen=1")) {
        result.kind = NetworkOperand::Kind::TcpListener;
        return result;
    }
    error = "unknown query '?" + query + "' in '" + operand +
            (result.kind == NetworkOperand::Kind::Udp ? "': udp:// takes none"
                                                      : "': tcp:// takes only ?listen");
    return std::nullopt;
}

}  // namespace iqfeeder
