#include <cstdio>
#include <iostream>

#include "app/Platform.h"
#include "app/StreamRunner.h"
#include "common/Console.h"
#include "device/DeviceLink.h"
#include "device/DriverSelection.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("Usage: iqfeeder FILE\n", stderr);
        return 2;
    }
    // On a terminal the carriage-return lines must show as they are printed; redirected output
    // stays block-buffered and is written out when the run ends.
    if (iqfeeder::standardOutputIsTerminal()) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    iqfeeder::Console console(std::cout);
    const iqfeeder::DriverSelection driver;
    iqfeeder::DeviceLink device(driver.table(), console);
    iqfeeder::StreamRunner runner(device, console, iqfeeder::sleepMilliseconds);
    const int status = runner.run(argv[1]);
    std::cout.flush();
    return status;
}
