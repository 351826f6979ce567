// The command line's options, one entry each: its names, its value, and its line of --help, in
// the order --help lists them.
#pragma once

namespace iqfeeder {

enum class OptionId {
    Help,
    Version,
    List,
    Device,
    Serial,
    Driver,
    Repeat,
    Stats,
    Reconnect,
    Unlimited,
    Live,
    Progress,
    Metrics
};

struct Option {
    char shortName;
    const char* longName;
    const char* valueName;  // null for an option that takes no value
    OptionId id;
    const char* help;  // its one line of --help
    // The value may be left out; given, it is joined to the long name ("--stats=60").
    bool valueOptional = false;
};

inline constexpr Option kOptions[] = {
    {'d', "device", "N", OptionId::Device, "open the device with index N (see --list), not 0"},
    {'s', "serial", "SERIAL", OptionId::Serial, "open the device with this exact serial number"},
    {'l', "list", nullptr, OptionId::List, "list the attached devices: index, serial, description"},
    {'r', "repeat", "N", OptionId::Repeat,
     "send a recording N times in all, end to end (0: until stopped)"},
    {'L', "live", nullptr, OptionId::Live,
     "FILE is live: wait until it grows, never send what it held before"},
    {'S', "stats", "SECONDS", OptionId::Stats,
     "device and encoder rates, and advice, on stderr every SECONDS (1)", true},
    {'p', "progress", "SECONDS", OptionId::Progress,
     "for a log: progress every SECONDS (0: never), repeats folded"},
    {'M', "metrics", "FILE", OptionId::Metrics,
     "Prometheus metrics to FILE, every --stats SECONDS (10 at most)"},
    {'R', "reconnect", nullptr, OptionId::Reconnect,
     "look for a device that is gone (or not there yet) every second"},
    {'u', "unlimited", nullptr, OptionId::Unlimited,
     "no end at 500000000 bytes, and files past 2 GiB followed in full"},
    {'D', "driver", "NAME", OptionId::Driver,
     "maker, libftdi1 or none (default: maker's library, else libftdi1)"},
    {'h', "help", nullptr, OptionId::Help, "show this help and exit"},
    {'V', "version", nullptr, OptionId::Version, "show the version and exit"},
};

}  // namespace iqfeeder
