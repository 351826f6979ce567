// Standard output and error on Windows: the C runtime's descriptors, written as they are.
#include <io.h>

#include <algorithm>

#include "common/ConsoleOutput.h"

namespace iqfeeder {

ConsoleOutput::ConsoleOutput(int fd, std::function<void(const std::string&)> onFailure)
    : fd_(fd), onFailure_(std::move(onFailure)) {}

ConsoleOutput::~ConsoleOutput() = default;

long long ConsoleOutput::writeNow(const char* data, std::size_t size) {
    const int written =
        ::_write(fd_, data, static_cast<unsigned int>(std::min<std::size_t>(size, 1U << 30)));
    return written >= 0 ? written : -1;
}

}  // namespace iqfeeder
