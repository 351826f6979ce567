#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "app/Platform.h"

namespace iqfeeder {

bool standardOutputIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

}  // namespace iqfeeder
