#include "common/ConsoleOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace iqfeeder {
namespace {

// One write of the system's; negative with errno set on failure.
long long writeSome(int fd, const char* data, std::size_t size) {
#ifdef _WIN32
    return ::_write(fd, data, static_cast<unsigned int>(std::min<std::size_t>(size, 1U << 30)));
#else
    return ::write(fd, data, size);
#endif
}

}  // namespace

void ConsoleOutput::writeOut(const char* data, std::size_t size) {
    while (size > 0 && !failed_) {
        const long long written = writeSome(fd_, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
#ifndef _WIN32
        // Someone made the descriptor non-blocking: wait until it takes more.
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd_, POLLOUT, 0};
            (void)::poll(&ready, 1, -1);
            continue;
        }
#endif
        failed_ = true;
        if (onFailure_) {
            onFailure_(written < 0 ? std::strerror(errno) : "nothing written");
        }
    }
}

std::streamsize ConsoleOutput::xsputn(const char* text, std::streamsize count) {
    // Once failed, dropped: the stream above must stay good, whatever happens here.
    writeOut(text, static_cast<std::size_t>(count));
    return count;
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char one = traits_type::to_char_type(c);
        xsputn(&one, 1);
    }
    return traits_type::not_eof(c);
}

}  // namespace iqfeeder
