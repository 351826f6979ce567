#include "common/Console.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace iqfeeder {
namespace {

// Every fixed message fits, so a pass formats without allocating; only a long input path
// in a message takes the slow way.
constexpr std::size_t kStackBytes = 256;

}  // namespace

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list retry;
    va_copy(retry, args);
    std::array<char, kStackBytes> text;
    const int length = std::vsnprintf(text.data(), text.size(), format, args);
    if (length > 0 && static_cast<std::size_t>(length) < text.size()) {
        out_.write(text.data(), length);
    } else if (length > 0) {
        std::string longer(static_cast<std::size_t>(length) + 1, '\0');
        (void)std::vsnprintf(longer.data(), longer.size(), format, retry);  // length known above
        out_.write(longer.data(), length);
    }
    va_end(retry);
    va_end(args);
}

}  // namespace iqfeeder
