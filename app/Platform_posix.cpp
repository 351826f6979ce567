#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "app/Platform.h"

namespace iqfeeder {

void prepareStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor: this one, as those below it are open by now.
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    (void)std::signal(SIGPIPE, SIG_IGN);  // a failed console write is reported instead
}

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

std::size_t standardOutputColumns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool standardStreamsShareATerminal() {
    struct stat out {};
    struct stat err {};
    return ::isatty(STDOUT_FILENO) != 0 && ::isatty(STDERR_FILENO) != 0 &&
           ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
           out.st_rdev == err.st_rdev;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return {argv, argv + argc};
}

struct UnicodeConsole::Streams {};
UnicodeConsole::UnicodeConsole() = default;
UnicodeConsole::~UnicodeConsole() = default;

bool UnicodeConsole::routesStandardOutput() const {
    return streams_ != nullptr;  // never here: a POSIX terminal takes UTF-8 as it is
}

}  // namespace iqfeeder
