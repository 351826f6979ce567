#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MetricsFile.h"
#include "app/Platform.h"
#include "app/RunMetrics.h"
#include "app/RunSummary.h"
#include "app/ServiceMonitor.h"
#include "app/ServiceNotifier.h"
#include "app/StopSignal.h"
#include "app/StreamRunner.h"
#include "common/Console.h"
#include "common/ConsoleLines.h"
#include "common/ConsoleOutput.h"
#include "common/JournalFilter.h"
#include "device/DeviceLink.h"
#include "device/DriverSelection.h"
#include "stream/StreamReader.h"

namespace {

std::uint64_t monotonicMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

double wallClockSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// How the metrics name the input: by what the operand is.
std::string inputKindName(const iqfeeder::RunOptions& run) {
    if (run.network) {
        switch (run.network->kind) {
            case iqfeeder::NetworkOperand::Kind::TcpClient:
                return "tcp";
            case iqfeeder::NetworkOperand::Kind::TcpListener:
                return "tcp-listen";
            case iqfeeder::NetworkOperand::Kind::Udp:
                return "udp";
            case iqfeeder::NetworkOperand::Kind::SrtCaller:
                return "srt";
            case iqfeeder::NetworkOperand::Kind::SrtListener:
                return "srt-listen";
        }
    }
    return iqfeeder::isStreamPath(run.inputPath) ? "stream" : "file";
}

// --help and --version: their text is all they do, so text that can't be written fails them.
int printInformation(const std::string& text, const iqfeeder::UnicodeConsole& unicodeConsole) {
    if (unicodeConsole.routesStandardOutput()) {
        std::cout << text << std::flush;
        return std::cout ? 0 : 1;
    }
    std::string failure;
    {
        iqfeeder::ConsoleOutput output(1,
                                       [&failure](const std::string& reason) { failure = reason; });
        output.sputn(text.data(), static_cast<std::streamsize>(text.size()));
        // The text is all it does: it waits for its reader as long as that takes.
        output.finish(std::numeric_limits<std::uint32_t>::max());
    }
    if (failure.empty()) {
        return 0;
    }
    std::cerr << "iqfeeder: standard output: " << failure << "\n";
    return 1;
}

// What the consoles could not take yet at the end gets this long in all, within the stop
// deadline.
constexpr std::uint32_t kConsoleEndWaitMs = iqfeeder::kStopDeadlineMs / 2;

void finishConsoles(iqfeeder::ConsoleOutput& output, iqfeeder::ConsoleOutput& errorOutput) {
    const std::uint64_t end = monotonicMilliseconds() + kConsoleEndWaitMs;
    output.finish(kConsoleEndWaitMs);
    const std::uint64_t now = monotonicMilliseconds();
    errorOutput.finish(now < end ? static_cast<std::uint32_t>(end - now) : 0);
}

// A console's stream for a log: lines whole, paced and folded (see JournalFilter.h).
struct JournalStream {
    JournalStream(std::ostream& out, std::uint32_t progressSeconds)
        : filter(out, monotonicMilliseconds, progressSeconds), stream(&filter) {}
    iqfeeder::JournalFilter filter;
    std::ostream stream;
};

// Lists or streams, with everything it holds (the device, the driver library, the console)
// released by the time it returns, also when a stop signal ended the run.
int listOrStream(const iqfeeder::CommandLine& commandLine,
                 const iqfeeder::UnicodeConsole& unicodeConsole) {
    // Each line goes out as it is printed: on a terminal the carriage-return lines show in
    // place, and a log (--progress) gets whole lines, paced and folded. Elsewhere (a file, a
    // pipe) the text goes in blocks. Neither stream ever holds up the device (ConsoleOutput.h).
    const std::optional<std::uint32_t> progress = commandLine.run.progressSeconds;
    const bool onTerminal = !progress && iqfeeder::standardOutputIsTerminal();
    const bool sharedScreen = !progress && iqfeeder::standardStreamsShareATerminal();
    iqfeeder::ConsoleOutput errorOutput(2, nullptr);  // nowhere left to say that it failed
    std::ostream errorStream(&errorOutput);
    // A Windows console shows text written to it in UTF-16, through std::cout and std::cerr.
    std::ostream& standardError = unicodeConsole.routesStandardOutput() ? std::cerr : errorStream;
    std::optional<JournalStream> errorJournal;
    if (progress) {
        errorJournal.emplace(standardError, *progress);
    }
    iqfeeder::Console diagnostics(progress ? errorJournal->stream : standardError, sharedScreen);
    const bool listing = commandLine.action == iqfeeder::CommandLine::Action::List;
    bool outputFailed = false;
    iqfeeder::ConsoleOutput output(
        1, [&diagnostics, &outputFailed, listing](const std::string& reason) {
            outputFailed = true;
            if (listing) {
                diagnostics.print("iqfeeder: standard output: %s\n", reason.c_str());
                return;
            }
            diagnostics.print(
                "iqfeeder: standard output: %s; console output is dropped from here "
                "on, the transmission goes on\n",
                reason.c_str());
        });
    output.onLinesLost([&diagnostics](std::uint64_t lines) {
        diagnostics.print(iqfeeder::lines::kConsoleLinesLost, "standard output",
                          static_cast<unsigned long long>(lines));
    });
    errorOutput.onLinesLost([&diagnostics](std::uint64_t lines) {
        diagnostics.print(iqfeeder::lines::kConsoleLinesLost, "standard error",
                          static_cast<unsigned long long>(lines));
    });
    if (!progress && !onTerminal) {
        output.writeInBlocks(monotonicMilliseconds);
    }
    std::ostream outputStream(&output);
    std::ostream& standardOutput = unicodeConsole.routesStandardOutput() ? std::cout : outputStream;
    std::optional<JournalStream> outputJournal;
    if (progress) {
        outputJournal.emplace(standardOutput, *progress);
    }
    iqfeeder::Console console(progress ? outputJournal->stream : standardOutput, onTerminal);
    if (sharedScreen) {
        console.shareScreenWith(diagnostics);
    }
    if (onTerminal) {
        console.setColumns(iqfeeder::standardOutputColumns);
    }

    // Under a service manager that listens: ready, status, and alive between driver calls and
    // through every wait, so that only a call that hangs lets its watchdog end the process.
    std::uint64_t watchdogMs = 0;
    const auto notifier = iqfeeder::serviceManagerNotifier(watchdogMs);
    // The deadline's figures, published at every stop query: between driver calls, slices and
    // the slices of every wait. So are the consoles given what waits for them.
    iqfeeder::StopReport report;
    report.notifier = notifier.get();
    report.consoles = {&output, &errorOutput};
    const iqfeeder::DeviceLink* published = nullptr;
    iqfeeder::StopQuery stopQuery = [&report, &published, &output, &errorOutput] {
        if (published != nullptr) {
            const iqfeeder::DeviceCounters& counters = published->counters();
            report.bytesAccepted.store(counters.bytesAccepted, std::memory_order_relaxed);
            report.failedWrites.store(counters.failedWrites, std::memory_order_relaxed);
            report.shortWrites.store(counters.shortWrites, std::memory_order_relaxed);
        }
        output.pump();
        errorOutput.pump();
        return iqfeeder::stopRequested();
    };
    // Before a wait, what is held for a block goes out.
    iqfeeder::SleepFunction sleep = [&output, &errorOutput](std::uint32_t milliseconds) {
        output.pubsync();
        errorOutput.pubsync();
        iqfeeder::sleepUnlessStopped(milliseconds);
    };
    std::optional<iqfeeder::ServiceMonitor> monitor;
    if (notifier) {
        monitor.emplace(*notifier, monotonicMilliseconds, watchdogMs);
        stopQuery = monitor->watch(stopQuery);
        sleep = monitor->watch(sleep);
    }

    const iqfeeder::DriverSelection driver(commandLine.driver, std::cerr);
    iqfeeder::DeviceLink device(driver.table(), console, diagnostics, stopQuery);
    published = &device;
    if (listing) {
        // The table is all a listing does: not shown, it failed.
        const bool listed = device.printDeviceTable() > 0;
        finishConsoles(output, errorOutput);
        return listed && !outputFailed ? 0 : 1;
    }

    iqfeeder::installStopHandlers();
    const std::uint64_t start = monotonicMilliseconds();
    report.startMs = start;
    std::optional<iqfeeder::MetricsFile> metricsFile;
    std::optional<iqfeeder::RunMetrics> metrics;
    if (!commandLine.run.metricsPath.empty()) {
        metricsFile.emplace(commandLine.run.metricsPath, diagnostics);
        const iqfeeder::MetricsIdentity identity{iqfeeder::versionNumber(), driver.name(),
                                                 inputKindName(commandLine.run),
                                                 wallClockSeconds()};
        const std::uint64_t periodMs = commandLine.run.stats
                                           ? commandLine.run.statsSeconds * 1000ULL
                                           : iqfeeder::RunMetrics::kLongestPeriodMs;
        metrics.emplace(*metricsFile, identity, wallClockSeconds, periodMs);
        metrics->countLostLinesWith(
            [&output, &errorOutput] { return output.linesLost() + errorOutput.linesLost(); });
    }
    iqfeeder::StreamRunner runner(device,
                                  {console, diagnostics, sleep, stopQuery, monotonicMilliseconds,
                                   monitor ? &*monitor : nullptr, metrics ? &*metrics : nullptr});
    int status = 0;
    {
        // Until the run ends: after, the summary below says it.
        const iqfeeder::StopReportScope reportAtDeadline(report);
        status = runner.run(commandLine.run);
    }
    if (progress) {
        outputJournal->filter.flushFolded();
        errorJournal->filter.flushFolded();
    }
    std::cout.flush();
    if (iqfeeder::stopRequested()) {
        diagnostics.print(
            "%s", iqfeeder::runSummary(device.counters(), monotonicMilliseconds() - start).c_str());
    }
    finishConsoles(output, errorOutput);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    iqfeeder::prepareStandardStreams();
    const iqfeeder::UnicodeConsole unicodeConsole;
    iqfeeder::CommandLine commandLine = iqfeeder::parseCommandLine(
        iqfeeder::commandLineArguments(argc, argv), iqfeeder::DriverSelection::haveLibFtdi());
    // Known only by looking at the path: a FIFO can't be sent again either.
    if (commandLine.action == iqfeeder::CommandLine::Action::Run && commandLine.run.repeat &&
        iqfeeder::isStreamPath(commandLine.run.inputPath)) {
        commandLine.action = iqfeeder::CommandLine::Action::UsageError;
        commandLine.error = "--repeat needs a recording: " + commandLine.run.inputPath +
                            " is a FIFO or pipe, which can't be sent again";
    }
    // Checked before any driver is loaded: a run that can't write its metrics is refused.
    if (commandLine.action == iqfeeder::CommandLine::Action::Run &&
        !commandLine.run.metricsPath.empty()) {
        const std::string why = iqfeeder::MetricsFile::check(commandLine.run.metricsPath);
        if (!why.empty()) {
            commandLine.action = iqfeeder::CommandLine::Action::UsageError;
            commandLine.error = "--metrics: " + why;
        }
    }
    switch (commandLine.action) {
        case iqfeeder::CommandLine::Action::UsageError:
            std::cerr << iqfeeder::usageErrorText(commandLine);
            return 2;
        case iqfeeder::CommandLine::Action::Help:
            return printInformation(iqfeeder::helpText(), unicodeConsole);
        case iqfeeder::CommandLine::Action::Version:
            return printInformation(iqfeeder::versionText(), unicodeConsole);
        case iqfeeder::CommandLine::Action::List:
        case iqfeeder::CommandLine::Action::Run:
            break;
    }
    const int status = listOrStream(commandLine, unicodeConsole);
    if (iqfeeder::stopRequested()) {
        std::cerr.flush();
        iqfeeder::endByStopSignal();
    }
    return status;
}
