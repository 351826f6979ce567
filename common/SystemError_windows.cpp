#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "common/SystemError.h"
#include "common/Utf16.h"

namespace iqfeeder {

std::string systemErrorText(int code) {
    // The wide text, made UTF-8 like everything the program prints; the narrow one would be in
    // the ANSI code page.
    wchar_t* buffer = nullptr;
    const ::DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<::DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? utf8FromUtf16(Utf16View(buffer, length)) : "";
    ::LocalFree(buffer);
    // The system's text ends in ".\r\n"; the line is ours to end.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

}  // namespace iqfeeder
