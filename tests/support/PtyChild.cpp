#include "tests/support/PtyChild.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace iqfeeder::testing {
namespace {

// Output passed on byte for byte (no "\n" to "\r\n"), no echo, no line editing; only the
// interrupt character is acted on, as in a terminal window.
termios operatorTerminal() {
    termios settings{};
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    settings.c_lflag = ISIG;
    settings.c_cc[VINTR] = 0x03;
    settings.c_cc[VQUIT] = 0x1c;
    settings.c_cc[VSUSP] = 0x1a;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B38400);
    ::cfsetospeed(&settings, B38400);
    return settings;
}

}  // namespace

PtyChild::PtyChild(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& extraEnvironment,
                   const std::string& stderrPath) {
    termios settings = operatorTerminal();
    winsize size{24, 80, 0, 0};
    pid_ = ::forkpty(&master_, nullptr, &settings, &size);
    if (pid_ < 0) {
        throw std::runtime_error("forkpty failed");
    }
    if (pid_ == 0) {
        // A test started in the background of a shell inherits an ignored SIGINT, which exec
        // keeps: Ctrl-C must reach the program as it does in a terminal window.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGQUIT, SIG_DFL);
        if (!stderrPath.empty()) {
            const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err < 0 || ::dup2(err, STDERR_FILENO) < 0) {
                ::_exit(127);
            }
            ::close(err);
        }
        // Under IQFEEDER_TEST_WRAPPER too, as runChild runs its programs.
        execWrapped(argv, extraEnvironment);
    }
}

PtyChild::~PtyChild() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

PtyChild::Pumped PtyChild::pump(int timeoutMs) {
    if (terminalClosed_) {
        return Pumped::Closed;
    }
    pollfd poller{master_, POLLIN, 0};
    if (::poll(&poller, 1, timeoutMs) <= 0) {
        return Pumped::Nothing;
    }
    char chunk[4096];
    const ssize_t got = ::read(master_, chunk, sizeof chunk);
    if (got > 0) {
        output_.append(chunk, static_cast<std::size_t>(got));
        return Pumped::Data;
    }
    if (got < 0 && errno == EINTR) {
        return Pumped::Nothing;
    }
    // EIO: every holder of the terminal's other side has closed it.
    terminalClosed_ = true;
    return Pumped::Closed;
}

bool PtyChild::readUntil(const std::function<bool(const std::string&)>& done,
                         std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(output_)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || pump(static_cast<int>(left.count())) == Pumped::Closed) {
            return done(output_);
        }
    }
    return true;
}

void PtyChild::readFor(std::chrono::milliseconds duration) {
    readUntil([](const std::string&) { return false; }, duration);
}

void PtyChild::interrupt() {
    const char controlC = 0x03;
    if (::write(master_, &controlC, 1) != 1) {
        throw std::runtime_error("cannot type into the terminal");
    }
}

int PtyChild::waitForEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            // Whatever it printed is still in the terminal.
            while (pump(0) == Pumped::Data) {
            }
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        pump(10);
    }
    return -1;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

std::vector<std::string> screenLines(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char c : bytes) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (column >= line.size()) {
                line.resize(column + 1, ' ');
            }
            line[column++] = c;
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

std::string withoutPadding(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            out.erase(out.find_last_not_of(' ') + 1);
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace iqfeeder::testing
