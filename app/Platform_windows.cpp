#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "app/Platform.h"
#include "common/Utf16.h"

namespace iqfeeder {
namespace {

bool isConsole(HANDLE handle) {
    ::DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
           ::GetConsoleMode(handle, &mode) != FALSE;
}

bool isConsole(::DWORD which) {
    return isConsole(::GetStdHandle(which));
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

std::size_t standardOutputColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return 0;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

bool standardStreamsShareATerminal() {
    return isConsole(STD_OUTPUT_HANDLE) && isConsole(STD_ERROR_HANDLE);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    if (!wide) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8FromUtf16(wide.get()[i]));
    }
    return arguments;
}

namespace {

// Writes UTF-8 text to a console as UTF-16, the one form every console shows as meant whatever
// its code page. Each write goes out at once, as unbuffered console output would.
class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;
    ~ConsoleBuffer() override { write(pending_.size()); }

  protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        // A character cut between two writes waits for its other bytes.
        write(completeUtf8Length(pending_));
        return count;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char byte = traits_type::to_char_type(c);
            xsputn(&byte, 1);
        }
        return traits_type::not_eof(c);
    }

  private:
    void write(std::size_t bytes) {
        const Utf16String text = utf16FromUtf8(std::string_view(pending_).substr(0, bytes));
        pending_.erase(0, bytes);
        for (std::size_t at = 0; at < text.size();) {
            // Older consoles refuse a single write of much more than 64 KB; a surrogate pair
            // stays in one piece.
            std::size_t size = std::min<std::size_t>(text.size() - at, 8192);
            if (at + size < text.size() && text[at + size - 1] >= 0xD800 &&
                text[at + size - 1] <= 0xDBFF) {
                --size;
            }
            ::DWORD written = 0;
            if (::WriteConsoleW(console_, text.data() + at, static_cast<::DWORD>(size), &written,
                                nullptr) == FALSE ||
                written == 0) {
                return;
            }
            at += written;
        }
    }

    HANDLE console_;
    std::string pending_;
};

// One standard stream routed through the console for as long as this lives.
class ConsoleRoute {
  public:
    ConsoleRoute(std::ostream& stream, ::DWORD standardHandle)
        : stream_(stream), handle_(::GetStdHandle(standardHandle)) {
        if (isConsole(handle_)) {
            stream_.flush();
            buffer_ = std::make_unique<ConsoleBuffer>(handle_);
            previous_ = stream_.rdbuf(buffer_.get());
        }
    }
    ~ConsoleRoute() {
        if (buffer_) {
            stream_.rdbuf(previous_);
        }
    }
    ConsoleRoute(const ConsoleRoute&) = delete;
    ConsoleRoute& operator=(const ConsoleRoute&) = delete;

    bool routed() const { return buffer_ != nullptr; }

  private:
    std::ostream& stream_;
    HANDLE handle_;
    std::unique_ptr<ConsoleBuffer> buffer_;
    std::streambuf* previous_ = nullptr;
};

}  // namespace

struct UnicodeConsole::Streams {
    ConsoleRoute out{std::cout, STD_OUTPUT_HANDLE};
    ConsoleRoute err{std::cerr, STD_ERROR_HANDLE};
};

UnicodeConsole::UnicodeConsole() : streams_(std::make_unique<Streams>()) {}
UnicodeConsole::~UnicodeConsole() = default;

bool UnicodeConsole::routesStandardOutput() const {
    return streams_->out.routed();
}

}  // namespace iqfeeder
