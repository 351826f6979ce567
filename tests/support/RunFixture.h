// Shared set-up for runs of StreamRunner against the in-process driver double: a scratch
// folder, the captured console, and an injected sleep that records every wait and can stand in
// for a producer working while we wait.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/ServiceMonitor.h"
#include "app/StreamRunner.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/TempDir.h"

namespace iqfeeder::testing {

// Sparse length that makes the next live pass jump past the position cap, so a live run ends.
inline constexpr std::int64_t kLengthThatEndsALiveRun = 500032000;

class RunFixture : public ::testing::Test {
  protected:
    int run(const std::string& path) {
        RunOptions options;
        options.inputPath = path;
        return run(options);
    }
    int run(const RunOptions& options) {
        StopQuery stopping = [this] { return stopAsked; };
        SleepFunction sleep = [this](std::uint32_t ms) {
            sleeps.push_back(ms);
            clockMs += ms;
            if (onSleep) {
                onSleep(ms);
            }
        };
        // Under a service manager, as the program wires it.
        if (monitor != nullptr) {
            stopping = monitor->watch(stopping);
            sleep = monitor->watch(sleep);
        }
        DeviceLink link(driver.table(), console, diagnostics, stopping);
        StreamRunner runner(link, {console, diagnostics, sleep, stopping,
                                   [this] { return clockMs; }, monitor, metrics});
        return runner.run(options);
    }

    std::string output() const { return out.str(); }
    std::string errorOutput() const { return errors.str(); }

    // The lines every run starts with, for one listed device that opens.
    static std::string preamble(const std::string& path) {
        return "\nDevices connected:\n0: USB <-> Serial\n\nInput file is " + path +
               "\nSending IQ data to FTDI USB device.....\n\n";
    }

    static constexpr const char* kProbeLine =
        "Checking if it's a recorded file or live stream.....\n";

    TempDir dir;
    FakeDriver driver;
    std::ostringstream out;
    Console console{out};
    std::ostringstream errors;  // standard error
    Console diagnostics{errors};
    std::vector<std::uint32_t> sleeps;
    std::function<void(std::uint32_t)> onSleep;
    // The operator's stop, as the signal handler reports it.
    bool stopAsked = false;
    // The run's clock: moved on by every wait, and by a test's device as it takes data.
    std::uint64_t clockMs = 0;
    ServiceMonitor* monitor = nullptr;
    RunMetrics* metrics = nullptr;
};

// Grows or shrinks a file to a length, sparse where it grows.
void resizeFile(const std::string& path, std::int64_t length);

}  // namespace iqfeeder::testing
