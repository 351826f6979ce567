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
    int exitStatus = -1;    // -1 when it did not exit normally
    int signal = 0;         // what ended it, when a signal did (POSIX)
    bool stopSent = false;  // ChildOptions::stopAfterMs came and the stop was delivered
    std::string out;
    std::string err;
};

struct ChildOptions {
    // Run as this user id (and its group): only root may ask. Not uid_t, which the Windows
    // build of the tests lacks.
    std::optional<std::uint32_t> user;
    // Asks the child to stop this long after its start, as a service manager does: SIGTERM
    // (or `stopSignal`) on POSIX, Ctrl-Break to its own process group on Windows.
    std::optional<std::uint32_t> stopAfterMs;
    int stopSignal = 0;
    // The child starts with `stopSignal` ignored, as nohup starts a program with SIGHUP (POSIX).
    bool stopSignalIgnored = false;
    // Standard input from this descriptor (POSIX), instead of the test's own; or from this
    // HANDLE (Windows), instead of NUL: the child gets an inheritable duplicate, and the caller
    // keeps and closes its own. Not HANDLE, which the POSIX build lacks.
    int stdinFd = -1;
    void* stdinHandle = nullptr;
    // Standard output, instead of a pipe read to its end (POSIX): a pipe closed once this many
    // bytes came, as `| head -c N` does; closed altogether; or this file.
    std::optional<std::size_t> stdoutReadLimit;
    bool stdoutClosed = false;
    std::string stdoutFile;
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
