// Times the real pass loop over a page-cached recording, with a device that takes every byte at
// once, against dd reading the same file in blocks of the same size and against the system
// calls a pass cannot do without, repetitions taking turns. The loop's cost per pass is what
// the program costs once the device stops setting the pace.
//
//   iqfeeder_pass_loop_benchmark [--file=PATH] [--megabytes=N] [--repetitions=N]
//
// The file is made N MB of non-zero bytes unless it already has that size. Besides Google
// Benchmark's own report it prints "RESULT name value" lines for scripts/bench.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "CStringList.h"
#include "Options.h"
#include "app/StreamRunner.h"
#include "common/Console.h"
#include "device/DeviceLink.h"

// Every heap allocation of this process is counted, to see how many a pass makes.
namespace {
std::uint64_t allocations = 0;
}  // namespace

// GCC takes malloc and free here for a mismatch with the operator new they implement.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace iqfeeder {
namespace {

using bench::nullTerminated;
using bench::optionValue;

constexpr std::uint32_t kPassBytes = 32000;
constexpr const char* kLoopName = "PassLoop/recorded";
constexpr const char* kDdName = "dd/bs=32000";
constexpr const char* kFloorName = "SystemCallsAlone";

// Formats every message, as on a terminal, and then drops it.
class DiscardingBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// One attached device that takes every slice at once; the context counts the writes and holds
// the reports not yet asked for.
struct ZeroCostDevice {
    std::uint64_t writes = 0;
    std::vector<SliceReport> reports;
};
bool listOneDevice(void*, bool, std::vector<ListedDevice>& devices) {
    devices.assign(1, ListedDevice{"Bench device", ""});
    return true;
}
bool openDevice(void* context, int, const OpenSettings&, DeviceHandle* handle) {
    *handle = context;
    return true;
}
void takeAll(void* context, DeviceHandle, const SliceToSend& slice) {
    auto& device = *static_cast<ZeroCostDevice*>(context);
    ++device.writes;
    device.reports.push_back({slice.id, SliceFate::Taken, slice.size});
}
void status(void* context, DeviceHandle, std::vector<SliceReport>& reports) {
    auto& device = *static_cast<ZeroCostDevice*>(context);
    reports.insert(reports.end(), device.reports.begin(), device.reports.end());
    device.reports.clear();
}
bool closeDevice(void* context, DeviceHandle handle, std::vector<SliceReport>& reports) {
    status(context, handle, reports);
    return true;
}

DriverTable zeroCostDriver(ZeroCostDevice& device) {
    return DriverTable{&device, listOneDevice, openDevice, takeAll, status, closeDevice};
}

void passLoop(benchmark::State& state, const std::string& path) {
    DiscardingBuffer discard;
    std::ostream out(&discard);
    Console console(out);
    ZeroCostDevice zeroCost;
    const DriverTable driver = zeroCostDriver(zeroCost);
    for (auto _ : state) {
        DeviceLink device(driver, console);
        // The probe's two-second wait is the only sleep; it is not the loop's cost.
        StreamRunner runner(device, {console, console, [](std::uint32_t) {}});
        if (runner.run(path) != 0) {
            state.SkipWithError("the run refused the input");
            return;
        }
    }
    // Five slices a pass; the closing "File sent." pass sends nothing and is left out.
    const double passes = static_cast<double>(zeroCost.writes / 5);
    state.counters["passes"] = benchmark::Counter(passes, benchmark::Counter::kAvgIterations);
    state.counters["bytes"] =
        benchmark::Counter(passes * kPassBytes, benchmark::Counter::kAvgIterations);
}

// What every pass must do whatever the program around it: check the path, open, measure, read
// one block, close. The pass loop can come no closer to dd than this.
void systemCallsAlone(benchmark::State& state, const std::string& path) {
    std::vector<std::uint8_t> buffer(kPassBytes);
    double passes = 0;
    for (auto _ : state) {
        for (off_t offset = 0;; offset += kPassBytes) {
            struct stat before {};
            ::stat(path.c_str(), &before);
            const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            struct stat info {};
            ::fstat(fd, &info);
            const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
            ::close(fd);
            ++passes;
            if (got <= 0) {
                break;
            }
        }
    }
    state.counters["passes"] = benchmark::Counter(passes, benchmark::Counter::kAvgIterations);
    state.counters["bytes"] =
        benchmark::Counter(passes * kPassBytes, benchmark::Counter::kAvgIterations);
}

// One run outside the timing: the heap allocations it makes per pass, and how many pass
// buffers were copied on their way from the read to the driver.
struct PerPass {
    double allocations = 0;
    double copies = 0;
};
PerPass countPerPass(const std::string& path) {
    DiscardingBuffer discard;
    std::ostream out(&discard);
    Console console(out);
    ZeroCostDevice zeroCost;
    const DriverTable driver = zeroCostDriver(zeroCost);
    DeviceLink device(driver, console);
    StreamRunner runner(device, {console, console, [](std::uint32_t) {}});
    const std::uint64_t before = allocations;
    runner.run(path);
    const auto passes = static_cast<double>(zeroCost.writes / 5);
    return {static_cast<double>(allocations - before) / passes,
            static_cast<double>(device.counters().copiedBuffers) / passes};
}

// The same with a metrics file written after every pass (its clock moves on a period a pass),
// at worst as often as it can be: the write must not add any.
double allocationsPerPassWithMetrics(const std::string& path) {
    DiscardingBuffer discard;
    std::ostream out(&discard);
    Console console(out);
    ZeroCostDevice zeroCost;
    const DriverTable driver = zeroCostDriver(zeroCost);
    DeviceLink device(driver, console);
    MetricsFile file(path + ".prom", console);
    RunMetrics metrics(
        file, {"0", "none", "file", 0}, [] { return 0.0; }, 1000);
    std::uint64_t clockMs = 0;
    StreamRunner runner(device, {console,
                                 console,
                                 [](std::uint32_t) {},
                                 {},
                                 [&clockMs] { return clockMs += 1000; },
                                 nullptr,
                                 &metrics});
    const std::uint64_t before = allocations;
    runner.run(path);
    const double perPass =
        static_cast<double>(allocations - before) / static_cast<double>(zeroCost.writes / 5);
    (void)std::remove((path + ".prom").c_str());
    return perPass;
}

// One repetition of either benchmark: how long one pass over the file took, and what it moved.
struct Repetition {
    double seconds;
    double passes;
    double bytes;
};

// Keeps Google Benchmark's console report and the figures of each repetition.
class CapturingReporter : public benchmark::ConsoleReporter {
  public:
    CapturingReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                const Repetition repetition{
                    run.real_accumulated_time / static_cast<double>(run.iterations),
                    run.counters.at("passes").value, run.counters.at("bytes").value};
                const std::string& name = run.run_name.function_name;
                (name == kDdName ? dd : name == kFloorName ? floor : loop).push_back(repetition);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::vector<Repetition> loop;
    std::vector<Repetition> dd;
    std::vector<Repetition> floor;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool fileOfSize(const std::string& path, std::uint64_t bytes) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) == bytes;
}

bool writeRecording(const std::string& path, std::uint64_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::vector<std::uint8_t> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(1 + i % 251);
    }
    bool ok = true;
    for (std::uint64_t done = 0; ok && done < bytes;) {
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), bytes - done));
        ok = ::write(fd, block.data(), size) == static_cast<ssize_t>(size);
        done += size;
    }
    return ::close(fd) == 0 && ok;
}

// Reads the file once so that every run finds it in the page cache, and says how much of it is.
double warmPageCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size == 0) {
        ::close(fd);
        return 0;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    std::vector<char> block(1 << 20);
    while (::read(fd, block.data(), block.size()) > 0) {
    }
    double resident = 0;
    if (void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0); map != MAP_FAILED) {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> pages((length + page - 1) / page);
        if (::mincore(map, length, pages.data()) == 0) {
            const auto inCache = std::count_if(pages.begin(), pages.end(),
                                               [](unsigned char p) { return (p & 1) != 0; });
            resident = static_cast<double>(inCache) / static_cast<double>(pages.size());
        }
        ::munmap(map, length);
    }
    ::close(fd);
    return resident;
}

// Runs dd over the file in pass-sized blocks and returns the seconds dd itself reports for the
// copy (its start-up is left out, which is in dd's favour). Negative on failure.
double timeDd(const std::string& path) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const std::string input = "if=" + path;
    const std::string blockSize = "bs=" + std::to_string(kPassBytes);
    std::vector<std::string> args{"dd", input, "of=/dev/null", blockSize};
    const std::vector<char*> argv = nullTerminated(args);
    // The C locale, so that the report reads "copied, 0.0345 s," whatever the user's locale.
    std::vector<std::string> variables{"LC_ALL=C", "PATH=/usr/bin:/bin"};
    const std::vector<char*> envp = nullTerminated(variables);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, "dd", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string report;
    char chunk[512];
    for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
        report.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    const std::size_t copied = report.find("copied, ");
    return copied == std::string::npos ? -1 : std::strtod(report.c_str() + copied + 8, nullptr);
}

// dd's own timing of each copy stands as the iteration's time.
void ddReads(benchmark::State& state, const std::string& path, std::uint64_t fileBytes) {
    for (auto _ : state) {
        const double seconds = timeDd(path);
        if (seconds <= 0) {
            state.SkipWithError("dd did not run");
            return;
        }
        state.SetIterationTime(seconds);
    }
    const auto bytes = static_cast<double>(fileBytes) * static_cast<double>(state.iterations());
    state.counters["passes"] =
        benchmark::Counter(bytes / kPassBytes, benchmark::Counter::kAvgIterations);
    state.counters["bytes"] = benchmark::Counter(bytes, benchmark::Counter::kAvgIterations);
}

int benchmarkMain(int argc, char** argv) {
    // The loop's and dd's repetitions take turns, so that both meet the same machine; flags
    // given on the command line come later and win.
    std::vector<char*> args{argv, argv + argc};
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    const char* temp = std::getenv("TMPDIR");
    const std::string path =
        optionValue(argc, argv, "file",
                    std::string(temp != nullptr ? temp : "/tmp") + "/iqfeeder-bench-recording.iq");
    const auto megabytes =
        std::strtoull(optionValue(argc, argv, "megabytes", "320").c_str(), nullptr, 10);
    const int repetitions = std::atoi(optionValue(argc, argv, "repetitions", "5").c_str());
    const std::uint64_t bytes = megabytes * 1000000U;
    if (bytes == 0 || repetitions < 1) {
        std::fprintf(stderr, "usage: %s [--file=PATH] [--megabytes=N] [--repetitions=N]\n",
                     argv[0]);
        return 2;
    }
    if (!fileOfSize(path, bytes) && !writeRecording(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const double cached = warmPageCache(path);
    std::printf("recording %s: %llu MB, %.0f%% in the page cache\n", path.c_str(),
                static_cast<unsigned long long>(megabytes), cached * 100);

    benchmark::RegisterBenchmark(kLoopName, passLoop, path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(repetitions);
    benchmark::RegisterBenchmark(kDdName, ddReads, path, bytes)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Repetitions(repetitions);
    benchmark::RegisterBenchmark(kFloorName, systemCallsAlone, path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(repetitions);
    CapturingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.loop.empty() || reporter.dd.empty() || reporter.floor.empty()) {
        std::fprintf(stderr, "a benchmark did not run\n");
        return 1;
    }
    const auto rates = [](const std::vector<Repetition>& runs) {
        std::vector<double> values;
        for (const Repetition& run : runs) {
            values.push_back(run.bytes / run.seconds / 1e6);
        }
        return median(values);
    };
    const auto passTime = [](const std::vector<Repetition>& runs) {
        std::vector<double> values;
        for (const Repetition& run : runs) {
            values.push_back(run.seconds / run.passes * 1e6);
        }
        return median(values);
    };
    const PerPass perPass = countPerPass(path);
    const double allocatedWithMetrics = allocationsPerPassWithMetrics(path);
    const double loopRate = rates(reporter.loop);
    const double ddRate = rates(reporter.dd);
    std::printf("RESULT file_mb %llu\n", static_cast<unsigned long long>(megabytes));
    std::printf("RESULT page_cached_percent %.0f\n", cached * 100);
    std::printf("RESULT loop_us_per_pass %.2f\n", passTime(reporter.loop));
    std::printf("RESULT floor_us_per_pass %.2f\n", passTime(reporter.floor));
    std::printf("RESULT floor_mb_per_s %.0f\n", rates(reporter.floor));
    std::printf("RESULT dd_us_per_block %.2f\n", passTime(reporter.dd));
    std::printf("RESULT loop_mb_per_s %.0f\n", loopRate);
    std::printf("RESULT dd_mb_per_s %.0f\n", ddRate);
    std::printf("RESULT ratio %.2f\n", loopRate / ddRate);
    std::printf("RESULT floor_ratio %.2f\n", loopRate / rates(reporter.floor));
    std::printf("RESULT allocations_per_pass %.2f\n", perPass.allocations);
    std::printf("RESULT allocations_per_pass_with_metrics %.2f\n", allocatedWithMetrics);
    std::printf("RESULT copies_per_buffer %.2f\n", perPass.copies);
    return 0;
}

}  // namespace
}  // namespace iqfeeder

int main(int argc, char** argv) {
    return iqfeeder::benchmarkMain(argc, argv);
}
