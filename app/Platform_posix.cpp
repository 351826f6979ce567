#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "app/Platform.h"

namespace iqfeeder {

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return {argv, argv + argc};
}

struct UnicodeConsole::Streams {};
UnicodeConsole::UnicodeConsole() = default;
UnicodeConsole::~UnicodeConsole() = default;

}  // namespace iqfeeder
