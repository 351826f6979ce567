#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Platform.h"
#include "app/RunSummary.h"
#include "app/StopSignal.h"
#include "app/StreamRunner.h"
#include "common/Console.h"
#include "common/ConsoleOutput.h"
#include "device/DeviceLink.h"
#include "device/DriverSelection.h"
#include "stream/StreamInput.h"

namespace {

std::uint64_t monotonicMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// --help and --version: their text is all they do, so text that can't be written fails them.
int printInformation(const std::string& text, const iqfeeder::UnicodeConsole& unicodeConsole) {
    if (unicodeConsole.routesStandardOutput()) {
        std::cout << text << std::flush;
        return std::cout ? 0 : 1;
    }
    std::string failure;
    {
        iqfeeder::ConsoleOutput output(1, true,
                                       [&failure](const std::string& reason) { failure = reason; });
        output.sputn(text.data(), static_cast<std::streamsize>(text.size()));
    }
    if (failure.empty()) {
        return 0;
    }
    std::cerr << "iqfeeder: standard output: " << failure << "\n";
    return 1;
}

// Lists or streams, with everything it holds (the device, the driver library, the console)
// released by the time it returns, also when a stop signal ended the run.
int listOrStream(const iqfeeder::CommandLine& commandLine,
                 const iqfeeder::UnicodeConsole& unicodeConsole) {
    // On a terminal each line goes out as it is printed, so the carriage-return lines show in
    // place; redirected output is written in blocks and all of it by the end of the run.
    const bool onTerminal = iqfeeder::standardOutputIsTerminal();
    const bool sharedScreen = iqfeeder::standardStreamsShareATerminal();
    iqfeeder::Console diagnostics(std::cerr, sharedScreen);
    const bool listing = commandLine.action == iqfeeder::CommandLine::Action::List;
    bool outputFailed = false;
    iqfeeder::ConsoleOutput output(
        1, !onTerminal, [&diagnostics, &outputFailed, listing](const std::string& reason) {
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
    // A Windows console shows text written to it in UTF-16, through std::cout.
    std::ostream outputStream(&output);
    iqfeeder::Console console(unicodeConsole.routesStandardOutput() ? std::cout : outputStream,
                              onTerminal);
    if (sharedScreen) {
        console.shareScreenWith(diagnostics);
    }
    if (onTerminal) {
        console.setColumns(iqfeeder::standardOutputColumns);
    }

    const iqfeeder::DriverSelection driver(commandLine.driver, std::cerr);
    iqfeeder::DeviceLink device(driver.table(), console, diagnostics, iqfeeder::stopRequested);
    if (listing) {
        // The table is all a listing does: not shown, it failed.
        const bool listed = device.printDeviceTable() > 0;
        output.flush();
        return listed && !outputFailed ? 0 : 1;
    }

    iqfeeder::installStopHandlers();
    const std::uint64_t start = monotonicMilliseconds();
    iqfeeder::StreamRunner runner(device, {console, diagnostics, iqfeeder::sleepUnlessStopped,
                                           iqfeeder::stopRequested, monotonicMilliseconds});
    const int status = runner.run(commandLine.run);
    output.flush();
    std::cout.flush();
    if (iqfeeder::stopRequested()) {
        diagnostics.print(
            "%s", iqfeeder::runSummary(device.counters(), monotonicMilliseconds() - start).c_str());
    }
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
