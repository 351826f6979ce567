#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace iqfeeder::testing {

std::vector<std::string> wrapped(const std::vector<std::string>& argv) {
    std::vector<std::string> all;
    // A cross build's programs run only under its emulator, which is then the default wrapper.
    const char* wrapper = std::getenv("IQFEEDER_TEST_WRAPPER");
    std::istringstream words(wrapper != nullptr ? wrapper : IQFEEDER_DEFAULT_TEST_WRAPPER);
    for (std::string word; words >> word;) {
        all.push_back(word);
    }
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

void execWrapped(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& extraEnvironment) {
    for (const auto& [name, value] : extraEnvironment) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    const std::vector<std::string> all = wrapped(argv);
    std::vector<char*> args;
    for (const auto& arg : all) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

ChildResult runChild(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnvironment,
                     const ChildOptions& options) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (options.stdoutClosed) {
            ::close(STDOUT_FILENO);
        } else if (!options.stdoutFile.empty()) {
            const int file = ::open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (file < 0 || ::dup2(file, STDOUT_FILENO) < 0) {
                ::_exit(126);
            }
        } else {
            ::dup2(outPipe[1], STDOUT_FILENO);
        }
        ::dup2(errPipe[1], STDERR_FILENO);
        if (options.stopSignalIgnored) {
            ::signal(options.stopSignal, SIG_IGN);  // kept by exec
        }
        if (options.stdinFd >= 0) {
            ::dup2(options.stdinFd, STDIN_FILENO);
        }
        if (options.user) {
            const passwd* user = ::getpwuid(*options.user);
            if (user == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 ||
                ::setuid(user->pw_uid) != 0) {
                ::_exit(126);
            }
        }
        execWrapped(argv, extraEnvironment);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ChildResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    const auto stopAt = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(options.stopAfterMs.value_or(0));
    bool stopSent = !options.stopAfterMs;
    while (open > 0) {
        int timeoutMs = -1;
        if (!stopSent) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                stopAt - std::chrono::steady_clock::now());
            timeoutMs = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            break;
        }
        if (ready == 0) {
            result.stopSent =
                ::kill(pid, options.stopSignal != 0 ? options.stopSignal : SIGTERM) == 0;
            stopSent = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            }
            // A reader that goes away once it has what it wants.
            const bool enough =
                i == 0 && options.stdoutReadLimit && result.out.size() >= *options.stdoutReadLimit;
            if (got <= 0 || enough) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

}  // namespace iqfeeder::testing
