// Runs a program as a child process with extra environment variables and collects what it
// wrote and how it ended.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace iqfeeder::testing {

struct ChildResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct ChildOptions {
    // Run as this user id (and its group): only root may ask. Not uid_t, which the Windows
    // build of the tests lacks.
    std::optional<std::uint32_t> user;
};

// IQFEEDER_TEST_WRAPPER, when set, is put before argv, words split at spaces: the valgrind run
// of the end-to-end tests uses it to run every program under memcheck. Unset, a cross build
// puts its emulator there (qemu-user), so that only the build's own programs may be started.
ChildResult runChild(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnvironment,
                     const ChildOptions& options = {});

// argv with the wrapper of IQFEEDER_TEST_WRAPPER, if any, in front.
std::vector<std::string> wrapped(const std::vector<std::string>& argv);

#ifndef _WIN32
// In a forked child: sets the extra environment and executes argv under the wrapper; exits
// with 127 if that fails.
[[noreturn]] void execWrapped(const std::vector<std::string>& argv,
                              const std::map<std::string, std::string>& extraEnvironment);
#endif

}  // namespace iqfeeder::testing
