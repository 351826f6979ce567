// The metrics file's text, in Prometheus' text exposition format: each metric with its HELP and
// TYPE lines, counters ending in _total, amounts in bytes and seconds. Made into a buffer of its
// own, so a file costs no allocation once the run has started.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/MetricsSnapshot.h"

namespace iqfeeder {

// What stays the same over a run: iqfeeder_build_info's labels and iqfeeder_start_time_seconds.
struct MetricsIdentity {
    std::string version;
    std::string driver;       // maker, libftdi1, none
    std::string inputKind;    // file, stream, tcp, tcp-listen, udp, srt, srt-listen
    double startSeconds = 0;  // wall clock
};

// A label's value as the format writes it between double quotes.
std::string escapeLabelValue(std::string_view value);

class MetricsText {
  public:
    explicit MetricsText(const MetricsIdentity& identity);

    // The whole file for `snapshot`, valid until the next call.
    std::string_view format(const MetricsSnapshot& snapshot);

  private:
    std::string fixed_;  // build_info and start_time, made once
    std::array<char, 8192> buffer_{};
};

}  // namespace iqfeeder
