#include "stream/SrtCalls.h"

#include <array>

#include "common/DynamicLibrary.h"

#ifndef IQFEEDER_SRT_LIBRARY
#define IQFEEDER_SRT_LIBRARY "libsrt.so.1.5"
#endif

namespace iqfeeder {
namespace {

template <typename Call>
bool find(const DynamicLibrary& library, const char* name, Call& call, std::string& why) {
    call = reinterpret_cast<Call>(library.symbol(name));
    if (call == nullptr && why.empty()) {
        why = std::string("libsrt has no ") + name;
    }
    return call != nullptr;
}

}  // namespace

bool loadSrtCalls(SrtCalls& calls, std::string& why) {
    // The one it was built against first (Debian's libsrt1.5-openssl), then the GnuTLS build of
    // the same version.
    constexpr std::array kNames = {IQFEEDER_SRT_LIBRARY, "libsrt.so.1.5", "libsrt-gnutls.so.1.5"};
    std::string first;
    for (const char* name : kNames) {
        const DynamicLibrary library(name);
        if (!library.isLoaded()) {
            if (first.empty()) {
                first = library.failure().empty() ? std::string(name) + " is not installed"
                                                  : library.failure();
            }
            continue;
        }
        why.clear();
        // Each is looked for, so that the first missing one is named.
        bool all = true;
        const auto take = [&](const char* symbol, auto& call) {
            all = find(library, symbol, call, why) && all;
        };
        take("srt_startup", calls.startup);
        take("srt_cleanup", calls.cleanup);
        take("srt_setloglevel", calls.setloglevel);
        take("srt_create_socket", calls.create_socket);
        take("srt_close", calls.close);
        take("srt_setsockflag", calls.setsockflag);
        take("srt_getsockflag", calls.getsockflag);
        take("srt_getsockstate", calls.getsockstate);
        take("srt_bind", calls.bind);
        take("srt_listen", calls.listen);
        take("srt_accept", calls.accept);
        take("srt_connect", calls.connect);
        take("srt_recvmsg", calls.recvmsg);
        take("srt_bstats", calls.bstats);
        take("srt_getlasterror", calls.getlasterror);
        take("srt_getlasterror_str", calls.getlasterror_str);
        take("srt_getrejectreason", calls.getrejectreason);
        take("srt_rejectreason_str", calls.rejectreason_str);
        take("srt_epoll_create", calls.epoll_create);
        take("srt_epoll_add_usock", calls.epoll_add_usock);
        take("srt_epoll_remove_usock", calls.epoll_remove_usock);
        take("srt_epoll_uwait", calls.epoll_uwait);
        take("srt_epoll_release", calls.epoll_release);
        if (all) {
            return true;
        }
        calls = SrtCalls{};
        return false;
    }
    why = first;
    return false;
}

}  // namespace iqfeeder
