#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "common/SystemError.h"
#include "common/Utf16.h"
#include "stream/StreamReader.h"

namespace iqfeeder {
namespace {

bool isNamedPipePath(const std::string& path) {
    const std::string prefix = "\\\\.\\pipe\\";
    return path.size() > prefix.size() &&
           ::_strnicmp(path.c_str(), prefix.c_str(), prefix.size()) == 0;
}

}  // namespace

bool isStreamPath(const std::string& path) {
    return path == "-" || isNamedPipePath(path);
}

StreamReader::~StreamReader() {
    if (ownsFd_ && fd_ >= 0) {
        ::_close(fd_);
    }
}

bool StreamReader::open(const std::string& path) {
    if (path == "-") {
        fd_ = 0;
        (void)::_setmode(fd_, _O_BINARY);  // raw bytes: no line-end translation, no Ctrl-Z end
        return true;
    }
    // A named pipe's server may not exist yet: wait for it, as a FIFO's reader waits.
    const Utf16String name = utf16FromUtf8(path);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        // Identification only: a server that took the name first can't act as the user.
        pipe = ::CreateFileW(
            name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY) {
            break;
        }
        (void)::WaitNamedPipeW(name.c_str(), NMPWAIT_WAIT_FOREVER);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        error_ = static_cast<int>(::GetLastError());
        return false;
    }
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(pipe), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) {
        ::CloseHandle(pipe);
        error_ = static_cast<int>(ERROR_TOO_MANY_OPEN_FILES);
        return false;
    }
    ownsFd_ = true;
    return true;
}

StreamReader::ReadStatus StreamReader::read(std::uint8_t* buffer, std::size_t size,
                                            std::size_t& delivered, const WaitHooks& hooks) {
    delivered = 0;
    while (delivered < size) {
        if (hooks.stopping && hooks.stopping()) {
            return ReadStatus::Stopped;
        }
        const auto want =
            static_cast<unsigned int>(std::min<std::size_t>(size - delivered, INT_MAX));
        const int got = ::_read(fd_, buffer + delivered, want);
        if (got > 0) {
            delivered += static_cast<std::size_t>(got);
        } else if (got == 0) {
            return ReadStatus::Ended;
        } else {
            // A pipe whose writer has gone reads as its end.
            const ::DWORD lastError = ::GetLastError();
            if (lastError == ERROR_BROKEN_PIPE) {
                return ReadStatus::Ended;
            }
            error_ = static_cast<int>(lastError);
            return ReadStatus::Failed;
        }
    }
    return ReadStatus::Full;
}

std::string StreamReader::errorText() const {
    return systemErrorText(error_);
}

}  // namespace iqfeeder
