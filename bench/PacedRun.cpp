// Runs the real program on a live file for a while, the stand-in driver library taking data at a
// fixed rate as a device would and this harness appending at the same rate as an encoder would,
// then reports the program's CPU time and peak resident memory.
//
//   iqfeeder_paced_run [--seconds=30] [--rate=2000000]
//
// The stand-in's own pacing (one sleep per write) runs inside the program's process, so its
// cost is measured alone too, in a child that makes the same writes without the program at the
// same time, and taken off. Prints "RESULT name value" lines for scripts/bench.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CStringList.h"
#include "Children.h"
#include "Options.h"

namespace {

using iqfeeder::bench::after;
using iqfeeder::bench::ChildCost;
using iqfeeder::bench::now;
using iqfeeder::bench::optionValue;
using iqfeeder::bench::reap;
using iqfeeder::bench::spawn;

constexpr std::uint32_t kPassBytes = 32000;
constexpr std::uint32_t kSliceBytes = kPassBytes / 5;
constexpr std::uint32_t kProbeSeconds = 2;
constexpr long kTickMs = 10;

bool appendPattern(int fd, std::uint64_t from, std::uint64_t to) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(to - from));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(1 + (from + i) % 251);
    }
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

struct PacedCosts {
    ChildCost program;
    ChildCost standInAlone;
};

// The program on a growing file, with this process as the encoder.
PacedCosts runProgram(const std::string& live, double runSeconds, long rate) {
    const int fd = ::open(live.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    std::uint64_t length = 4 * kPassBytes;
    if (fd < 0 || !appendPattern(fd, 0, length)) {
        return {};
    }
    const double startedAt = now();
    const pid_t pid = spawn(
        {IQFEEDER_PROGRAM, live},
        {"LD_LIBRARY_PATH=" STAND_IN_DIR, "FAKE_FTD2XX_BYTES_PER_SECOND=" + std::to_string(rate)});
    // The stand-in alone makes the same writes beside it, from the end of the probe on, so that
    // both meet the same machine.
    const pid_t standInPid = spawn(
        {"/proc/self/exe", "--drive-stand-in=" + std::to_string(runSeconds - kProbeSeconds),
         "--after=" + std::to_string(kProbeSeconds)},
        {"LD_LIBRARY_PATH=" STAND_IN_DIR, "FAKE_FTD2XX_BYTES_PER_SECOND=" + std::to_string(rate)});
    if (pid < 0 || standInPid < 0) {
        ::close(fd);
        return {};
    }
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    const std::uint64_t start = length;
    const auto ticks = static_cast<std::uint64_t>(runSeconds * 1000 / kTickMs);
    bool ok = true;
    for (std::uint64_t tick = 1; ok && tick <= ticks; ++tick) {
        due = after(due, kTickMs);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        const std::uint64_t target =
            start + static_cast<std::uint64_t>(rate) * tick * kTickMs / 1000U;
        ok = appendPattern(fd, length, target);
        length = target;
    }
    ::close(fd);
    PacedCosts costs{reap(pid, startedAt, true), reap(standInPid, startedAt, false)};
    costs.program.ok = costs.program.ok && ok;
    return costs;
}

// The stand-in alone: the writes the program would make over the same time, with nothing else.
int driveStandIn(double writeSeconds, double afterSeconds) {
    const auto wait = static_cast<long long>(afterSeconds * 1e9);
    const timespec pause{static_cast<time_t>(wait / 1000000000LL),
                         static_cast<long>(wait % 1000000000LL)};
    ::nanosleep(&pause, nullptr);
    void* library = ::dlopen("libftd2xx.so", RTLD_NOW);
    if (library == nullptr) {
        return 1;
    }
    using Open = std::uint32_t (*)(int, void**);
    using Write = std::uint32_t (*)(void*, void*, std::uint32_t, std::uint32_t*);
    using Close = std::uint32_t (*)(void*);
    const auto open = reinterpret_cast<Open>(::dlsym(library, "FT_Open"));
    const auto write = reinterpret_cast<Write>(::dlsym(library, "FT_Write"));
    const auto close = reinterpret_cast<Close>(::dlsym(library, "FT_Close"));
    void* handle = nullptr;
    if (open == nullptr || write == nullptr || close == nullptr || open(0, &handle) != 0) {
        return 1;
    }
    std::vector<std::uint8_t> buffer(kPassBytes, 1);
    const double until = now() + writeSeconds;
    while (now() < until) {
        for (std::uint32_t offset = 0; offset < kPassBytes; offset += kSliceBytes) {
            std::uint32_t written = 0;
            write(handle, buffer.data() + offset, kSliceBytes, &written);
        }
    }
    close(handle);
    ::dlclose(library);
    return 0;
}

int harnessMain(int argc, char** argv) {
    if (const std::string drive = optionValue(argc, argv, "drive-stand-in", ""); !drive.empty()) {
        return driveStandIn(std::strtod(drive.c_str(), nullptr),
                            std::strtod(optionValue(argc, argv, "after", "0").c_str(), nullptr));
    }
    const double runSeconds =
        std::strtod(optionValue(argc, argv, "seconds", "30").c_str(), nullptr);
    const long rate = std::strtol(optionValue(argc, argv, "rate", "2000000").c_str(), nullptr, 10);
    if (runSeconds <= kProbeSeconds || rate <= 0) {
        std::fprintf(stderr, "usage: %s [--seconds=S (more than %u)] [--rate=BYTES_PER_SECOND]\n",
                     argv[0], kProbeSeconds);
        return 2;
    }
    const char* temp = std::getenv("TMPDIR");
    std::string directory = std::string(temp != nullptr ? temp : "/tmp") + "/iqfeeder-paced-XXXXXX";
    if (::mkdtemp(directory.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const std::string live = directory + "/live.iq";

    std::printf("paced run: %s on a live file for %.0f s, device and encoder at %ld B/s\n",
                IQFEEDER_PROGRAM, runSeconds, rate);
    std::fflush(stdout);
    const PacedCosts costs = runProgram(live, runSeconds, rate);
    ::unlink(live.c_str());
    ::rmdir(directory.c_str());
    const ChildCost& program = costs.program;
    const ChildCost& standIn = costs.standInAlone;
    if (!program.ok || !standIn.ok) {
        std::fprintf(stderr, "the paced run failed (program %s, stand-in alone %s)\n",
                     program.ok ? "ok" : "failed", standIn.ok ? "ok" : "failed");
        return 1;
    }
    const double percent = 100 * program.cpuSeconds / program.wallSeconds;
    const double standInPercent = 100 * standIn.cpuSeconds / program.wallSeconds;
    std::printf("RESULT paced_seconds %.1f\n", program.wallSeconds);
    std::printf("RESULT paced_rate_bytes_per_s %ld\n", rate);
    std::printf("RESULT cpu_seconds %.3f\n", program.cpuSeconds);
    std::printf("RESULT cpu_percent %.3f\n", percent);
    std::printf("RESULT stand_in_cpu_percent %.3f\n", standInPercent);
    std::printf("RESULT program_cpu_percent %.3f\n", percent - standInPercent);
    std::printf("RESULT peak_rss_kib %ld\n", program.peakResidentKiB);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return harnessMain(argc, argv);
}
