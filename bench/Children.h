// Children of the bench programs: started with posix_spawn, ended and measured with wait4 and
// the kernel's high-water mark of their memory.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "CStringList.h"

extern char** environ;

namespace iqfeeder::bench {

struct ChildCost {
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakResidentKiB = 0;
};

inline double seconds(timeval t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

inline double now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline timespec after(timespec at, long milliseconds) {
    const long long nanoseconds = at.tv_nsec + static_cast<long long>(milliseconds) * 1000000LL;
    at.tv_sec += static_cast<time_t>(nanoseconds / 1000000000LL);
    at.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return at;
}

// The peak resident set of a live process, from the kernel's own high-water mark.
inline long peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Starts a program with standard output to /dev/null and these variables added.
inline pid_t spawn(const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> variables(extraEnvironment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    const std::vector<char*> envp = nullTerminated(variables);
    std::vector<std::string> argsCopy(args);
    const std::vector<char*> argv = nullTerminated(argsCopy);
    // Its console output would only cost us: a write per line, to /dev/null.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // A shell starts background jobs with SIGINT ignored, which would outlive the exec.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &interrupts);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// Ends a child (with SIGINT when `interrupt`, the usual end of a live run) and takes its costs;
// ok when it ended as it should: by that signal, or with status 0.
inline ChildCost reap(pid_t pid, double startedAt, bool interrupt) {
    ChildCost cost;
    cost.peakResidentKiB = peakResidentKiB(pid);
    if (interrupt) {
        // Ctrl-C, the usual end of a live run.
        ::kill(pid, SIGINT);
    }
    int status = 0;
    rusage usage{};
    // Never hang on a child that outlives its end: it gets five seconds, then SIGKILL.
    const double deadline = now() + 5;
    pid_t ended = 0;
    while ((ended = ::wait4(pid, &status, WNOHANG, &usage)) == 0 &&
           (!interrupt || now() < deadline)) {
        const timespec pause{0, 10000000};
        ::nanosleep(&pause, nullptr);
    }
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ended = ::wait4(pid, &status, 0, &usage);
    }
    if (ended != pid) {
        return cost;
    }
    cost.wallSeconds = now() - startedAt;
    cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (cost.peakResidentKiB < 0) {
        cost.peakResidentKiB = usage.ru_maxrss;
    }
    cost.ok = interrupt ? WIFSIGNALED(status) && WTERMSIG(status) == SIGINT
                        : WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

}  // namespace iqfeeder::bench
