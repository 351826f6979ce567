#include "stream/NetworkOperand.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace iqfeeder {
namespace {

constexpr const char* kSeparator = "://";
// libsrt's bounds for a passphrase.
constexpr std::size_t kShortestPassphrase = 10;
constexpr std::size_t kLongestPassphrase = 79;

bool isSchemeCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

std::optional<std::uint64_t> parseUnsigned(const std::string& text, std::uint64_t most) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (most - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    const auto port = text.size() <= 5 ? parseUnsigned(text, 65535) : std::nullopt;
    if (!port || *port < 1) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*port);
}

// The options a scheme takes, each once, as "name=value" or "name" alone.
struct QueryReader {
    const std::string& operand;
    NetworkOperand& result;
    std::string& error;

    bool refuse(const std::string& why) {
        error = "network input '" + shownNetworkOperand(operand) + "': " + why;
        return false;
    }

    bool number(const std::string& name, const std::string& value, std::uint64_t most,
                const char* give, std::uint64_t& into) {
        const auto parsed = parseUnsigned(value, most);
        if (!parsed) {
            return refuse("invalid " + name + "='" + value + "': give " + give);
        }
        into = *parsed;
        return true;
    }

    bool sources(const std::string& value) {
        std::size_t start = 0;
        // Sockets are used here before the run's own networking starts (Winsock).
        [[maybe_unused]] const net::Networking networking;
        while (start <= value.size()) {
            const std::size_t comma = value.find(',', start);
            std::string host =
                value.substr(start, comma == std::string::npos ? comma : comma - start);
            if (host.starts_with('[') && host.ends_with(']') && host.size() > 2) {
                host = host.substr(1, host.size() - 2);
            }
            if (host.empty()) {
                return refuse("empty address in sources='" + value +
                              "': give sources=ADDR[,ADDR...]");
            }
            std::string why;
            const auto found = net::resolve(host, 0, false, why);
            if (found.empty()) {
                return refuse("sources= address '" + host + "' does not resolve");
            }
            result.sources.insert(result.sources.end(), found.begin(), found.end());
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
        return true;
    }

    bool option(const std::string& name, const std::string& value, bool hasValue) {
        const bool udp = result.kind == NetworkOperand::Kind::Udp;
        const bool srt = result.isSrt();
        std::uint64_t number64 = 0;
        if (name == "listen" && !udp && !srt && (!hasValue || value == "1")) {
            result.kind = NetworkOperand::Kind::TcpListener;
            return true;
        }
        if (name == "mode" && srt && hasValue) {
            if (value == "listener") {
                result.kind = NetworkOperand::Kind::SrtListener;
                return true;
            }
            if (value == "caller") {
                result.kind = NetworkOperand::Kind::SrtCaller;
                return true;
            }
            return refuse("invalid mode='" + value + "': give mode=listener or mode=caller");
        }
        if (name == "sources") {
            // Checked against the kind once the whole query is read: ?sources=...&listen.
            return hasValue && !value.empty()
                       ? sources(value)
                       : refuse("empty sources=: give sources=ADDR[,ADDR...]");
        }
        if (name == "timeout" && hasValue) {
            if (!number(name, value, std::numeric_limits<std::uint64_t>::max() / 1000,
                        "microseconds, 0 for never", number64)) {
                return false;
            }
            result.timeoutUs = number64;
            return true;
        }
        if (name == "buffer_size" && (udp || srt) && hasValue) {
            if (!number(name, value, std::numeric_limits<int>::max(), "bytes", number64)) {
                return false;
            }
            result.bufferSize = static_cast<int>(number64);
            return true;
        }
        if (name == "latency" && srt && hasValue) {
            if (!number(name, value, std::numeric_limits<std::int32_t>::max() * 1000ULL,
                        "microseconds", number64)) {
                return false;
            }
            result.latencyUs = number64;
            return true;
        }
        if (name == "passphrase" && srt && hasValue) {
            if (value.size() < kShortestPassphrase || value.size() > kLongestPassphrase) {
                return refuse("passphrase= of " + std::to_string(value.size()) +
                              " characters: give 10 to 79");
            }
            result.passphrase = value;
            return true;
        }
        if (name == "pbkeylen" && srt && hasValue) {
            if (value != "0" && value != "16" && value != "24" && value != "32") {
                return refuse("invalid pbkeylen='" + value + "': give 16, 24 or 32 (bytes)");
            }
            result.keyLength = std::stoi(value);
            return true;
        }
        if (name == "streamid" && srt && hasValue) {
            result.streamId = value;
            return true;
        }
        const std::string scheme = operand.substr(0, operand.find(kSeparator));
        return refuse("option '" + name + (hasValue ? "=" + value : "") + "' is not one " + scheme +
                      ":// takes (" +
                      (udp   ? "sources=, timeout=, buffer_size="
                       : srt ? "mode=, latency=, passphrase=, pbkeylen=, streamid=, sources=, "
                               "timeout=, buffer_size="
                             : "listen, sources= with listen, timeout=") +
                      ")");
    }

    bool read(const std::string& query) {
        if (query.empty()) {
            return refuse("empty query after '?'");
        }
        std::vector<std::string> seen;
        std::size_t start = 0;
        while (start <= query.size()) {
            const std::size_t amp = query.find('&', start);
            const std::string item =
                query.substr(start, amp == std::string::npos ? amp : amp - start);
            const std::size_t equals = item.find('=');
            const std::string name = item.substr(0, equals);
            if (name.empty()) {
                return refuse("empty option in query '?" + query + "'");
            }
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
                return refuse("option '" + name + "' given twice");
            }
            seen.push_back(name);
            if (!option(name, equals == std::string::npos ? "" : item.substr(equals + 1),
                        equals != std::string::npos)) {
                return false;
            }
            if (amp == std::string::npos) {
                break;
            }
            start = amp + 1;
        }
        if (!result.sources.empty() && !result.listens()) {
            return refuse(
                "sources= needs a receiving end: udp://, tcp://...?listen or "
                "srt://...?mode=listener");
        }
        return true;
    }
};

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
    QueryReader reader{operand, result, error};
    if (!reader.read(query)) {
        return std::nullopt;
    }
    return result;
}

}  // namespace iqfeeder
