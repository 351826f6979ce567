#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <string>

#include "common/SystemError.h"
#include "common/Utf16.h"
#include "common/WindowsPaths.h"
#include "stream/InputFile.h"

namespace iqfeeder {

namespace {

// The path as Windows takes it: UTF-16, and past MAX_PATH in the \\?\ form, which has no such
// limit but skips Windows' reading of the path, so it is made whole and absolute first.
Utf16String windowsPath(const std::string& path) {
    Utf16String wide = utf16FromUtf8(path);
    const ::DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed < MAX_PATH) {
        return wide;  // as before: short paths go as given
    }
    Utf16String full(needed, L'\0');
    const ::DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return wide;
    }
    full.resize(length);
    return extendedLengthPath(full);
}

}  // namespace

InputFile::OpenStatus InputFile::open(const std::string& path) {
    close();
    // Device names are refused unopened: opening one can act on the device.
    if (isWindowsDeviceName(path)) {
        return OpenStatus::NotRegularFile;
    }
    const Utf16String wide = windowsPath(path);
    const ::DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return OpenStatus::NotRegularFile;
    }
    // The producer may go on writing and appending, and may even rename or replace its file,
    // while we hold it: share everything, as a reader should.
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        openError_ = static_cast<int>(::GetLastError());
        return OpenStatus::CannotOpen;
    }
    // Pipes, and whatever else is no disk file, show what they are only once open; opening them
    // never blocks here, unlike a FIFO on POSIX.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return OpenStatus::NotRegularFile;
    }
    // Raw bytes: no line-end translation. The descriptor owns the handle from here on.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        openError_ = static_cast<int>(ERROR_TOO_MANY_OPEN_FILES);
        ::CloseHandle(handle);
        return OpenStatus::CannotOpen;
    }
    fd_ = fd;
    offset_ = 0;
    lengthAtOpen_ = -1;
    return OpenStatus::Opened;
}

std::string InputFile::openErrorText() const {
    return systemErrorText(openError_);
}

std::int64_t InputFile::measure() {
    // Opening told nothing of the length here, so every call looks.
    offset_ = 0;
    const __int64 end = ::_lseeki64(fd_, 0, SEEK_END);
    if (end < 0) {
        return 0;
    }
    return end;
}

void InputFile::seekTo(std::int64_t offset) {
    // A position before the start is refused and the old one kept, as on POSIX.
    if (offset >= 0) {
        offset_ = offset;
    }
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t size) {
    readError_ = 0;
    if (::_lseeki64(fd_, offset_, SEEK_SET) < 0) {
        readError_ = static_cast<int>(::GetLastError());
        return 0;
    }
    std::size_t delivered = 0;
    while (delivered < size) {
        const auto want =
            static_cast<unsigned int>(std::min<std::size_t>(size - delivered, INT_MAX));
        const int got = ::_read(fd_, buffer + delivered, want);
        if (got < 0) {
            // Not the end of the file: said as a failure, never sent as filler.
            const ::DWORD lastError = ::GetLastError();
            readError_ = static_cast<int>(lastError != 0 ? lastError : ERROR_READ_FAULT);
        }
        if (got <= 0) {
            break;
        }
        delivered += static_cast<std::size_t>(got);
    }
    offset_ += static_cast<std::int64_t>(delivered);
    return delivered;
}

std::string InputFile::readErrorText() const {
    return systemErrorText(readError_);
}

void InputFile::close() {
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
}

}  // namespace iqfeeder
