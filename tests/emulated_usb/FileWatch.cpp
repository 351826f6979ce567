#include "tests/emulated_usb/FileWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/TempDir.h"

namespace iqfeeder::testing {

AppendWhenFirstClosed::AppendWhenFirstClosed(std::string path, std::size_t bytes)
    : path_(std::move(path)), bytes_(bytes), inotify_(::inotify_init1(IN_CLOEXEC)) {
    if (inotify_ < 0 || ::inotify_add_watch(inotify_, path_.c_str(), IN_CLOSE_NOWRITE) < 0) {
        throw std::runtime_error("inotify failed on " + path_);
    }
    thread_ = std::thread([this] { watch(); });
}

AppendWhenFirstClosed::~AppendWhenFirstClosed() {
    stop_ = true;
    thread_.join();
    ::close(inotify_);
}

void AppendWhenFirstClosed::watch() {
    pollfd watched{inotify_, POLLIN, 0};
    while (!stop_) {
        if (::poll(&watched, 1, 50) <= 0) {
            continue;
        }
        alignas(inotify_event) char events[4096];
        if (::read(inotify_, events, sizeof events) > 0) {
            appendPattern(path_, bytes_);
            appended_ = true;
            return;
        }
    }
}

}  // namespace iqfeeder::testing
