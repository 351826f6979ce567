#include "common/Console.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace iqfeeder {
namespace {

// Every fixed message fits, so a pass formats without allocating; only a long input path
// in a message takes the slow way.
constexpr std::size_t kStackBytes = 256;
constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

}  // namespace

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list retry;
    va_copy(retry, args);
    std::array<char, kStackBytes> text;
    const int length = std::vsnprintf(text.data(), text.size(), format, args);
    if (length > 0 && static_cast<std::size_t>(length) < text.size()) {
        write(text.data(), static_cast<std::size_t>(length));
    } else if (length > 0) {
        std::string longer(static_cast<std::size_t>(length) + 1, '\0');
        (void)std::vsnprintf(longer.data(), longer.size(), format, retry);  // length known above
        write(longer.data(), static_cast<std::size_t>(length));
    }
    va_end(retry);
    va_end(args);
}

void Console::shareScreenWith(Console& other) {
    screenPartner_ = &other;
    other.screenPartner_ = this;
}

void Console::write(const char* text, std::size_t length) {
    if (onTerminal_) {
        writeOnTerminal(text, length);
        return;
    }
    out_.write(text, static_cast<std::streamsize>(length));
}

void Console::writeOnTerminal(const char* text, std::size_t length) {
    padded_.clear();
    if (screenPartner_ != nullptr && screenPartner_->carriageLine_ > 0) {
        // The other stream's carriage-return line is where our text would land: go below it.
        if (text[0] != '\n') {
            padded_.push_back('\n');
        }
        screenPartner_->carriageLine_ = 0;
    }
    // One column short of the width: some terminals wrap as soon as the last one is written.
    const std::size_t columns = columns_ ? columns_() : 0;
    const std::size_t fits = columns > 1 ? columns - 1 : kUnbounded;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            continue;
        }
        std::size_t line = i - start;
        if (text[i] == '\r' && line > fits) {
            line = fits;
        }
        padded_.append(text + start, line);
        // A line that starts with its own end leaves the old line standing above it.
        const std::size_t cover = carriageLine_ < fits ? carriageLine_ : fits;
        if (line > 0 && cover > line) {
            padded_.append(cover - line, ' ');
        }
        padded_.push_back(text[i]);
        if (text[i] == '\n') {
            carriageLine_ = 0;
        } else if (line > 0) {
            carriageLine_ = line;
        }
        start = i + 1;
    }
    if (start < length) {
        // Text with no line end of its own: what it leaves on screen is not known here.
        padded_.append(text + start, length - start);
        carriageLine_ = 0;
    }
    out_.write(padded_.data(), static_cast<std::streamsize>(padded_.size()));
}

}  // namespace iqfeeder
