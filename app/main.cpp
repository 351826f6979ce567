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
#include "device/DeviceLink.h"
#include "device/DriverSelection.h"

namespace {

std::uint64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const iqfeeder::CommandLine commandLine =
        iqfeeder::parseCommandLine(args, iqfeeder::DriverSelection::haveLibFtdi());
    switch (commandLine.action) {
        case iqfeeder::CommandLine::Action::UsageError:
            std::cerr << iqfeeder::usageErrorText(commandLine);
            return 2;
        case iqfeeder::CommandLine::Action::Help:
            std::cout << iqfeeder::helpText();
            return 0;
        case iqfeeder::CommandLine::Action::Version:
            std::cout << iqfeeder::versionText();
            return 0;
        case iqfeeder::CommandLine::Action::List:
        case iqfeeder::CommandLine::Action::Run:
            break;
    }
    // On a terminal the carriage-return lines must show as they are printed; redirected output
    // stays block-buffered and is written out when the run ends.
    if (iqfeeder::standardOutputIsTerminal()) {
        (void)std::setvbuf(stdout, nullptr, _IONBF, 0);  // if refused, lines only show later
    }
    iqfeeder::Console console(std::cout);
    iqfeeder::Console diagnostics(std::cerr);
    const iqfeeder::DriverSelection driver(commandLine.driver);
    iqfeeder::DeviceLink device(driver.table(), console, diagnostics, iqfeeder::stopRequested);
    if (commandLine.action == iqfeeder::CommandLine::Action::List) {
        const bool listed = device.printDeviceTable() > 0;
        std::cout.flush();
        return listed ? 0 : 1;
    }

    iqfeeder::installStopHandlers();
    const auto start = std::chrono::steady_clock::now();
    iqfeeder::StreamRunner runner(device, console, iqfeeder::sleepUnlessStopped,
                                  iqfeeder::stopRequested);
    const int status = runner.run(commandLine.run);
    std::cout.flush();
    if (iqfeeder::stopRequested()) {
        std::cerr << iqfeeder::runSummary(device.counters(), millisecondsSince(start));
        std::cerr.flush();
        iqfeeder::endByStopSignal();
    }
    return status;
}
