#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/MetricsFile.h"
#include "common/Utf16.h"
#include "common/WindowsPaths.h"

namespace iqfeeder {

int replaceFileWhole(const std::string& temporary, const std::string& path, std::string_view text) {
    const Utf16String wideTemporary = utf16FromUtf8(temporary);
    HANDLE handle = ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return static_cast<int>(::GetLastError());
    }
    int error = 0;
    ::DWORD written = 0;
    if (!text.empty() && (::WriteFile(handle, text.data(), static_cast<::DWORD>(text.size()),
                                      &written, nullptr) == 0 ||
                          written != text.size())) {
        error = static_cast<int>(::GetLastError());
        if (error == 0) {
            error = ERROR_DISK_FULL;
        }
    }
    ::CloseHandle(handle);
    if (error == 0 && temporary != path &&
        ::MoveFileExW(wideTemporary.c_str(), utf16FromUtf8(path).c_str(),
                      MOVEFILE_REPLACE_EXISTING) == 0) {
        error = static_cast<int>(::GetLastError());
    }
    if (error != 0) {
        (void)::DeleteFileW(wideTemporary.c_str());
    }
    return error;
}

std::string notAFileReason(const std::string& path) {
    if (isWindowsDeviceName(path)) {
        return "is not a regular file";
    }
    const ::DWORD attributes = ::GetFileAttributesW(utf16FromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return "";
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "is a directory";
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? "is not a regular file" : "";
}

}  // namespace iqfeeder
