#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/Platform.h"
#include "app/StreamRunner.h"
#include "common/Console.h"
#include "device/DeviceLink.h"
#include "device/DriverSelection.h"

int main(int argc, char** argv) {
    const iqfeeder::UnicodeConsole unicodeConsole;
    const std::vector<std::string> arguments = iqfeeder::commandLineArguments(argc, argv);
    if (arguments.size() < 2) {
        (void)std::fputs("Usage: iqfeeder FILE\n", stderr);  // nothing to do if stderr is gone
        return 2;
    }
    // On a terminal the carriage-return lines must show as they are printed; redirected output
    // stays block-buffered and is written out when the run ends.
    if (iqfeeder::standardOutputIsTerminal()) {
        (void)std::setvbuf(stdout, nullptr, _IONBF, 0);  // if refused, lines only show later
    }
    iqfeeder::Console console(std::cout);
    const iqfeeder::DriverSelection driver(std::cerr);
    iqfeeder::DeviceLink device(driver.table(), console);
    iqfeeder::StreamRunner runner(device, console, iqfeeder::sleepMilliseconds);
    const int status = runner.run(arguments[1]);
    std::cout.flush();
    return status;
}
