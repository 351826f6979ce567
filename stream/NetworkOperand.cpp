#include "stream/NetworkOperand.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "common/Decimal.h"
#include "stream/NetworkQuery.h"

namespace iqfeeder {
namespace {

constexpr const char* kSeparator = "://";

bool isSchemeCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    const auto port = text.size() <= 5 ? parseDecimal(text, 65535) : std::nullopt;
    if (!port || *port < 1) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*port);
}

}  // namespace

bool haveSrtInput() {
#ifdef IQFEEDER_HAVE_SRT
    return true;
#else
    return false;
#endif
}

std::string shownNetworkOperand(const std::string& operand) {
    std::string shown = operand;
    const std::size_t query = shown.find('?');
    for (std::size_t at = query; at != std::string::npos && at < shown.size();
         at = shown.find('&', at + 1)) {
        if (shown.compare(at + 1, 11, "passphrase=") == 0) {
            const std::size_t start = at + 12;
            const std::size_t end = std::min(shown.find('&', start), shown.size());
            shown.replace(start, end - start, "*****");
        }
    }
    return shown;
}

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
    } else if (scheme == "srt" && haveSrtInput()) {
        result.kind = NetworkOperand::Kind::SrtCaller;
    } else if (scheme == "srt") {
        error = "this build has no SRT input (built without libsrt): give tcp:// or udp://";
        return std::nullopt;
    } else if (scheme != "tcp") {
        error = "unknown network input scheme '" + scheme + "://': give " +
                (haveSrtInput() ? "tcp://, udp:// or srt://" : "tcp:// or udp://");
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

    if (queryStart == std::string::npos) {
        return result;
    }
    if (!readNetworkQuery(operand, query, result, error)) {
        return std::nullopt;
    }
    return result;
}

}  // namespace iqfeeder
