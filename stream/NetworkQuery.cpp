#include "stream/NetworkQuery.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "common/Decimal.h"
#include "stream/NetworkSocket.h"

namespace iqfeeder {
namespace {

// libsrt's bounds for a passphrase.
constexpr std::size_t kShortestPassphrase = 10;
constexpr std::size_t kLongestPassphrase = 79;

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
        const auto parsed = parseDecimal(value, most);
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
        const std::string scheme = operand.substr(0, operand.find("://"));
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

bool readNetworkQuery(const std::string& operand, const std::string& query, NetworkOperand& result,
                      std::string& error) {
    QueryReader reader{operand, result, error};
    return reader.read(query);
}

}  // namespace iqfeeder
