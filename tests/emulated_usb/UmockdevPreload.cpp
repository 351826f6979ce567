#include "tests/emulated_usb/UmockdevPreload.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace iqfeeder::testing {

std::vector<std::string> underUmockdev(const std::vector<std::string>& command) {
    const std::string sanitizerRuntime = IQFEEDER_SANITIZER_RUNTIME;
    std::vector<std::string> line;
    if (sanitizerRuntime.empty()) {
        line = {IQFEEDER_UMOCKDEV_WRAPPER};
    } else {
        line = {"/usr/bin/env", "LD_PRELOAD=" + sanitizerRuntime + ":libumockdev-preload.so.0"};
    }
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

void ensureUmockdevPreload(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) {
        return;
    }
    std::vector<std::string> command(argv, argv + argc);
    // argv[0] need not be a path that works from here; the running binary always is.
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        command[0].assign(self, static_cast<std::size_t>(length));
    }
    const std::vector<std::string> line = underUmockdev(command);
    std::vector<char*> args;
    for (const std::string& arg : line) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    std::perror(args[0]);
    std::exit(127);
}

}  // namespace iqfeeder::testing
