#include "common/Console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace iqfeeder {

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        (void)std::vsnprintf(text.data(), text.size(), format, args);  // length known above
        text.pop_back();
        out_ << text;
    }
    va_end(args);
}

}  // namespace iqfeeder
