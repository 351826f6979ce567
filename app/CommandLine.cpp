#include "app/CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "app/CommandLineOptions.h"
#include "common/Decimal.h"
#include "stream/NetworkOperand.h"

namespace iqfeeder {
namespace {

constexpr std::size_t kHelpColumn = 24;
constexpr std::uint64_t kMostRepeats = 999999999999;
constexpr std::uint64_t kMostSeconds = 86400;

template <typename Matches>
const Option* findOption(Matches matches) {
    const auto* found = std::find_if(std::begin(kOptions), std::end(kOptions), matches);
    return found == std::end(kOptions) ? nullptr : found;
}

const Option* findShort(char name) {
    return findOption([name](const Option& option) { return option.shortName == name; });
}

const Option* findLong(const std::string& name) {
    return findOption([&name](const Option& option) { return name == option.longName; });
}

struct Parser {
    CommandLine line;
    bool haveLibFtdi = false;
    bool sawDevice = false;
    bool sawSerial = false;

    // Returns false once the command line is refused, or when help or version ends it.
    bool apply(const Option& option, const std::string& value) {
        switch (option.id) {
            case OptionId::Help:
                line.action = CommandLine::Action::Help;
                return false;
            case OptionId::Version:
                line.action = CommandLine::Action::Version;
                return false;
            case OptionId::List:
                line.action = CommandLine::Action::List;
                return true;
            case OptionId::Device:
                if (const auto index = parseDecimal(value, std::numeric_limits<int>::max())) {
                    line.run.device.index = static_cast<int>(*index);
                    line.run.device.indexNamed = true;
                    sawDevice = true;
                    return true;
                }
                return refuse("invalid device index '" + value +
                              "': give a number from 0 to 2147483647");
            case OptionId::Repeat:
                if (const auto count = parseDecimal(value, kMostRepeats)) {
                    line.run.repeat = *count;
                    return true;
                }
                return refuse("invalid repeat count '" + value +
                              "': give a number from 0 (until stopped) to 999999999999");
            case OptionId::Serial:
                if (value.empty()) {
                    return refuse("the serial number is empty");
                }
                line.run.device.serial = value;
                sawSerial = true;
                return true;
            case OptionId::Driver:
                return chooseDriver(value);
            case OptionId::Stats:
                line.run.stats = true;
                if (value.empty()) {
                    return true;
                }
                if (const auto seconds = parseDecimal(value, kMostSeconds);
                    seconds && *seconds > 0) {
                    line.run.statsSeconds = static_cast<std::uint32_t>(*seconds);
                    return true;
                }
                return refuse("invalid --stats interval '" + value +
                              "': give seconds from 1 to 86400");
            case OptionId::Progress:
                if (const auto seconds = parseDecimal(value, kMostSeconds)) {
                    line.run.progressSeconds = static_cast<std::uint32_t>(*seconds);
                    return true;
                }
                return refuse("invalid --progress interval '" + value +
                              "': give seconds from 0 (never) to 86400");
            case OptionId::Live:
                line.run.live = true;
                return true;
            case OptionId::Reconnect:
                line.run.reconnect = true;
                return true;
            case OptionId::Unlimited:
                line.run.unlimited = true;
                return true;
            case OptionId::Metrics:
                // Empty: none, so that a service can pass a variable that may be unset.
                line.run.metricsPath = value;
                return true;
        }
        return true;
    }

    bool chooseDriver(const std::string& name) {
        if (name == "maker") {
            line.driver = DriverChoice::Maker;
        } else if (name == "none") {
            line.driver = DriverChoice::None;
        } else if (name == "libftdi1" && haveLibFtdi) {
            line.driver = DriverChoice::LibFtdi;
        } else if (name == "libftdi1") {
            return refuse("this build has no libftdi1 driver");
        } else {
            return refuse("unknown driver '" + name + "': give maker, libftdi1 or none");
        }
        return true;
    }

    // The operand, once it is seen to be a network input.
    void readNetworkOperand(const std::string& operand) {
        std::string why;
        line.run.network = parseNetworkOperand(operand, why);
        // Named so in every line of the run, and so in the log: never with its passphrase.
        line.run.inputPath = shownNetworkOperand(operand);
        if (!line.run.network) {
            refuse(why);
        } else if (line.run.repeat) {
            refuse("--repeat needs a recording: a network input can't be sent again");
        } else if (line.run.live) {
            refuse("--live is for a file: a network input is read as it comes");
        }
    }

    bool refuse(const std::string& why) {
        line.action = CommandLine::Action::UsageError;
        line.error = why;
        return false;
    }

    // One argument that starts with "--"; may take the next one as its value.
    bool longOption(const std::vector<std::string>& args, std::size_t& i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const Option* option = findLong(name);
        if (option == nullptr) {
            return refuse("unknown option '--" + name + "'");
        }
        if (option->valueName == nullptr) {
            return equals == std::string::npos ? apply(*option, {})
                                               : refuse("option '--" + name + "' takes no value");
        }
        if (equals != std::string::npos) {
            const std::string value = arg.substr(equals + 1);
            // Empty would read as left out.
            return value.empty() && option->valueOptional
                       ? refuse("option '--" + name + "' needs a value after '='")
                       : apply(*option, value);
        }
        if (option->valueOptional) {
            return apply(*option, {});
        }
        if (i + 1 >= args.size()) {
            return refuse("option '--" + name + "' needs a value");
        }
        return apply(*option, args[++i]);
    }

    // One argument of short options, grouped as "-lV"; the one that takes a value takes the
    // rest of the argument ("-d1") or the next one ("-d 1").
    bool shortOptions(const std::vector<std::string>& args, std::size_t& i) {
        const std::string& arg = args[i];
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const Option* option = findShort(arg[k]);
            if (option == nullptr) {
                return refuse(std::string("unknown option '-") + arg[k] + "'");
            }
            // An optional value is given only in the long form.
            if (option->valueName == nullptr || option->valueOptional) {
                if (!apply(*option, {})) {
                    return false;
                }
                continue;
            }
            if (k + 1 < arg.size()) {
                return apply(*option, arg.substr(k + 1));
            }
            if (i + 1 >= args.size()) {
                return refuse(std::string("option '-") + arg[k] + "' needs a value");
            }
            return apply(*option, args[++i]);
        }
        return true;
    }
};

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args, bool haveLibFtdi) {
    Parser parser;
    parser.haveLibFtdi = haveLibFtdi;
    if (args.size() < 2) {
        parser.refuse("");
        return parser.line;
    }
    std::size_t i = 1;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            ++i;
            break;
        }
        // The first operand ends the options; "-" alone is an operand.
        if (arg.size() < 2 || arg[0] != '-') {
            break;
        }
        const bool goOn = arg[1] == '-' ? parser.longOption(args, i) : parser.shortOptions(args, i);
        if (!goOn) {
            return parser.line;
        }
    }
    if (parser.sawDevice && parser.sawSerial) {
        parser.refuse("--device and --serial can't be used together");
    } else if (parser.line.run.repeat && parser.line.run.live) {
        parser.refuse("--repeat and --live can't be used together: a live file is never repeated");
    } else if (parser.line.run.repeat && i < args.size() && args[i] == "-") {
        parser.refuse("--repeat needs a recording: standard input can't be sent again");
    } else if (parser.line.action == CommandLine::Action::Run) {
        if (i < args.size()) {
            parser.line.run.inputPath = args[i];
            if (looksLikeNetworkOperand(args[i])) {
                parser.readNetworkOperand(args[i]);
            }
        } else {
            parser.refuse("no input FILE given");
        }
    }
    return parser.line;
}

std::string helpText() {
    std::string text =
        "Usage: iqfeeder [OPTIONS] FILE\n"
        "Streams FILE byte for byte to an FTDI USB transmitter: a recording is sent once, a\n"
        "live file that an encoder appends to is followed close behind its growing end, and\n"
        "standard input (\"-\") or a FIFO is read to its end. FILE may be a network input\n"
        "instead: tcp://HOST:PORT connects to a sender, tcp://ADDR:PORT?listen takes senders\n"
        "one at a time, udp://ADDR:PORT receives datagrams"
#ifdef IQFEEDER_HAVE_SRT
        ", srt://ADDR:PORT?mode=listener\n"
        "takes SRT callers and srt://HOST:PORT calls an SRT listener"
#endif
        "; each takes sender after\n"
        "sender. Their options, after '?' and joined by '&': sources=ADDR[,ADDR...] (only\n"
        "these hosts may send), timeout=MICROSECONDS (a silent sender is ended; 5 s, 0 never),\n"
        "buffer_size=BYTES (UDP, SRT)"
#ifdef IQFEEDER_HAVE_SRT
        "; SRT's mode=, latency=, passphrase=, pbkeylen=, streamid=.\n"
#else
        ". This build has no SRT input (no libsrt).\n"
#endif

        "\n"
        "Options, only before FILE (\"--\" ends them):\n";
    for (const Option& option : kOptions) {
        std::string names = std::string("  -") + option.shortName + ", --" + option.longName;
        if (option.valueOptional) {
            names += std::string("[=") + option.valueName + "]";
        } else if (option.valueName != nullptr) {
            names += std::string("=") + option.valueName;
        }
        names.resize(std::max(names.size() + 1, kHelpColumn), ' ');
        text += names + option.help + "\n";
    }
    return text;
}

const char* versionNumber() {
    return IQFEEDER_VERSION;
}

std::string versionText() {
    return "iqfeeder " IQFEEDER_VERSION "\n";
}

std::string usageErrorText(const CommandLine& commandLine) {
    // Nothing given at all: the short reminder, as it has always been.
    if (commandLine.error.empty()) {
        return "Usage: iqfeeder FILE\n";
    }
    return "iqfeeder: " + commandLine.error +
           "\nUsage: iqfeeder [OPTIONS] FILE\nTry 'iqfeeder --help' for more information.\n";
}

}  // namespace iqfeeder
