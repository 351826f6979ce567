// libsrt's calls, looked up when an srt:// input is opened rather than linked: a run of any
// other input kind then maps neither libsrt nor the TLS library under it (about 2 MiB of its
// resident memory).
#pragma once

#include <srt/srt.h>

#include <string>

namespace iqfeeder {

struct SrtCalls {
    decltype(&::srt_startup) startup = nullptr;
    decltype(&::srt_cleanup) cleanup = nullptr;
    decltype(&::srt_setloglevel) setloglevel = nullptr;
    decltype(&::srt_create_socket) create_socket = nullptr;
    decltype(&::srt_close) close = nullptr;
    decltype(&::srt_setsockflag) setsockflag = nullptr;
    decltype(&::srt_getsockflag) getsockflag = nullptr;
    decltype(&::srt_getsockstate) getsockstate = nullptr;
    decltype(&::srt_bind) bind = nullptr;
    decltype(&::srt_listen) listen = nullptr;
    decltype(&::srt_accept) accept = nullptr;
    decltype(&::srt_connect) connect = nullptr;
    decltype(&::srt_recvmsg) recvmsg = nullptr;
    decltype(&::srt_bstats) bstats = nullptr;
    decltype(&::srt_getlasterror) getlasterror = nullptr;
    decltype(&::srt_getlasterror_str) getlasterror_str = nullptr;
    decltype(&::srt_getrejectreason) getrejectreason = nullptr;
    decltype(&::srt_rejectreason_str) rejectreason_str = nullptr;
    decltype(&::srt_epoll_create) epoll_create = nullptr;
    decltype(&::srt_epoll_add_usock) epoll_add_usock = nullptr;
    decltype(&::srt_epoll_remove_usock) epoll_remove_usock = nullptr;
    decltype(&::srt_epoll_uwait) epoll_uwait = nullptr;
    decltype(&::srt_epoll_release) epoll_release = nullptr;
};

// Every call from the installed libsrt, which stays loaded to the end of the process (its
// threads may outlive a reader); false, with the loader's reason, when there is none or it
// lacks a call.
bool loadSrtCalls(SrtCalls& calls, std::string& why);

template <typename T>
bool setFlag(const SrtCalls& srt, int socket, SRT_SOCKOPT option, T value) {
    return srt.setsockflag(socket, option, &value, sizeof value) == 0;
}

inline std::string lastErrorText(const SrtCalls& srt) {
    return srt.getlasterror_str();
}

}  // namespace iqfeeder
