#include <unistd.h>

#include "app/Platform.h"

namespace iqfeeder {

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

}  // namespace iqfeeder
