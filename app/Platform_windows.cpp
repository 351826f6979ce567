#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "app/Platform.h"

namespace iqfeeder {
namespace {

bool isConsole(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != FALSE;
}

}  // namespace

void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // -2: the descriptor has no handle behind it (a program started without one).
        if (::_get_osfhandle(fd) >= 0) {
            continue;
        }
        const int null = ::_open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null >= 0 && null != fd) {
            ::_dup2(null, fd);
            ::_close(null);
        }
    }
}

// A console, not just any character device: NUL is one too, and gets no padding.
bool standardOutputIsTerminal() {
    return isConsole(STD_OUTPUT_HANDLE);
}

bool standardStreamsShareATerminal() {
    return isConsole(STD_OUTPUT_HANDLE) && isConsole(STD_ERROR_HANDLE);
}

}  // namespace iqfeeder
