#include "app/MetricsText.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace iqfeeder {
namespace {

struct Value {
    bool whole;
    std::uint64_t count;
    double amount;
};
Value whole(std::uint64_t count) {
    return {true, count, 0.0};
}
Value amount(double value) {
    return {false, 0, value};
}

struct Metric {
    const char* name;
    const char* type;
    const char* help;
    const char* labels;  // "" or {name="value"}
    Value (*value)(const MetricsSnapshot& snapshot);
    bool sameFamily = false;  // another sample of the metric above: no HELP and TYPE again
};

// clang-format off
constexpr Metric kMetrics[] = {
    {"iqfeeder_running", "gauge", "1 while the feeder runs, 0 once it has ended cleanly.", "",
     [](const MetricsSnapshot& s) { return whole(s.running ? 1 : 0); }},
    {"iqfeeder_device_bytes_total", "counter", "Bytes the device took.", "",
     [](const MetricsSnapshot& s) { return whole(s.deviceBytes); }},
    {"iqfeeder_device_write_failures_total", "counter", "Writes to the device that failed.", "",
     [](const MetricsSnapshot& s) { return whole(s.writeFailures); }},
    {"iqfeeder_device_short_writes_total", "counter",
     "Writes the device took only part of.", "",
     [](const MetricsSnapshot& s) { return whole(s.shortWrites); }},
    {"iqfeeder_device_reconnects_total", "counter", "Times a lost device was found again.", "",
     [](const MetricsSnapshot& s) { return whole(s.reconnects); }},
    {"iqfeeder_device_open", "gauge", "1 while the device is open.", "",
     [](const MetricsSnapshot& s) { return whole(s.deviceOpen ? 1 : 0); }},
    {"iqfeeder_input_bytes_total", "counter", "Bytes read from the input for the device.", "",
     [](const MetricsSnapshot& s) { return whole(s.inputBytes); }},
    {"iqfeeder_live_backlog_seconds", "gauge",
     "A live file's bytes not yet read, as time at the device's rate.", "",
     [](const MetricsSnapshot& s) { return amount(s.liveBacklogSeconds); }},
    {"iqfeeder_live_steps_back_total", "counter",
     "Times the reader overtook a live file's end and stepped back.", "",
     [](const MetricsSnapshot& s) { return whole(s.stepBacks); }},
    {"iqfeeder_live_jumps_total", "counter",
     "Times the reader fell too far behind a live file and jumped ahead.", "",
     [](const MetricsSnapshot& s) { return whole(s.jumps); }},
    {"iqfeeder_live_bytes_skipped_total", "counter", "Bytes of a live file the jumps left out.",
     "", [](const MetricsSnapshot& s) { return whole(s.bytesSkipped); }},
    {"iqfeeder_network_datagrams_dropped_total", "counter",
     "Datagrams of a network input that were dropped, by reason.", "{reason=\"overflow\"}",
     [](const MetricsSnapshot& s) { return whole(s.droppedOverflow); }},
    {"iqfeeder_network_datagrams_dropped_total", "", "", "{reason=\"other_sender\"}",
     [](const MetricsSnapshot& s) { return whole(s.droppedOtherSender); }, true},
    {"iqfeeder_network_datagrams_dropped_total", "", "", "{reason=\"not_allowed\"}",
     [](const MetricsSnapshot& s) { return whole(s.droppedNotAllowed); }, true},
    {"iqfeeder_network_senders_total", "counter", "Senders a network input has taken.", "",
     [](const MetricsSnapshot& s) { return whole(s.senders); }},
    {"iqfeeder_console_lines_lost_total", "counter",
     "Console lines that could not be written and were dropped.", "",
     [](const MetricsSnapshot& s) { return whole(s.consoleLinesLost); }},
    {"iqfeeder_last_write_timestamp_seconds", "gauge",
     "When the device last took a write, in seconds since 1970 (0: never).", "",
     [](const MetricsSnapshot& s) { return amount(s.lastWriteSeconds); }},
};
// clang-format on

// Appends to the buffer while it has room; `full` once something did not fit.
struct Writer {
    char* at;
    char* end;
    bool full = false;

    void append(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

void Writer::append(const char* format, ...) {
    if (full) {
        return;
    }
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(at, static_cast<std::size_t>(end - at), format, args);
    va_end(args);
    if (written < 0 || written >= end - at) {
        full = true;
        return;
    }
    at += written;
}

}  // namespace

std::string escapeLabelValue(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

namespace {

// build_info and start_time: the same in every file of a run.
std::string fixedLines(const MetricsIdentity& identity) {
    std::string lines =
        "# HELP iqfeeder_build_info The feeder's version, driver and kind of input.\n"
        "# TYPE iqfeeder_build_info gauge\n"
        "iqfeeder_build_info{version=\"" +
        escapeLabelValue(identity.version) + "\",driver=\"" + escapeLabelValue(identity.driver) +
        "\",input_kind=\"" + escapeLabelValue(identity.inputKind) + "\"} 1\n";
    std::array<char, 64> start{};
    (void)std::snprintf(start.data(), start.size(), "%.3f", identity.startSeconds);
    lines +=
        "# HELP iqfeeder_start_time_seconds When the feeder started, in seconds since "
        "1970.\n# TYPE iqfeeder_start_time_seconds gauge\niqfeeder_start_time_seconds ";
    lines += start.data();
    lines += "\n";
    return lines;
}

}  // namespace

MetricsText::MetricsText(const MetricsIdentity& identity) : fixed_(fixedLines(identity)) {}

std::string_view MetricsText::format(const MetricsSnapshot& snapshot) {
    Writer out{buffer_.data(), buffer_.data() + buffer_.size()};
    out.append("%s", fixed_.c_str());
    for (const Metric& metric : kMetrics) {
        if (!metric.sameFamily) {
            out.append("# HELP %s %s\n# TYPE %s %s\n", metric.name, metric.help, metric.name,
                       metric.type);
        }
        const Value value = metric.value(snapshot);
        if (value.whole) {
            out.append("%s%s %llu\n", metric.name, metric.labels,
                       static_cast<unsigned long long>(value.count));
        } else if (std::isnan(value.amount)) {
            out.append("%s%s NaN\n", metric.name, metric.labels);
        } else {
            out.append("%s%s %.3f\n", metric.name, metric.labels, value.amount);
        }
    }
    // Never a file cut short: a reader would take what is there for the whole.
    if (out.full) {
        return {};
    }
    return {buffer_.data(), static_cast<std::size_t>(out.at - buffer_.data())};
}

}  // namespace iqfeeder
