#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "common/SystemError.h"

namespace iqfeeder {

std::string systemErrorText(int code) {
    char* text = nullptr;
    const ::DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<::DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    ::LocalFree(text);
    // The system's text ends in ".\r\n"; the line is ours to end.
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

}  // namespace iqfeeder
