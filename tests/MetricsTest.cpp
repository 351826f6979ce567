// The metrics file of a run against the driver double, on the run's clock and a wall clock of
// the test's own: what each metric says after runs that went well and badly, that the device
// byte counter agrees with what the device got, and that a reader never sees a file in part.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/RunFixture.h"

namespace iqfeeder {
namespace {

using testing::appendPattern;
using testing::patternBytes;
using testing::writeFile;
using testing::WriteResult;

constexpr double kWallAtStart = 1700000000.0;

// Each sample of the file, "name{labels}" to its value as written.
std::map<std::string, std::string> samples(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> found;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            const std::size_t space = line.rfind(' ');
            found[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    return found;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MetricsFixture : public testing::RunFixture {
  public:
    // For the cases' own arrangements.
    using RunFixture::clockMs;
    using RunFixture::driver;
    using RunFixture::onSleep;
    using RunFixture::stopAsked;

  protected:
    // A run with metrics, every `statsSeconds` when given.
    int runWithMetrics(RunOptions options) {
        MetricsFile file(metricsPath, diagnostics);
        RunMetrics runMetrics(
            file, {"1.2.3", "maker", "file", kWallAtStart},
            [this] { return kWallAtStart + static_cast<double>(clockMs) / 1000; },
            options.stats ? options.statsSeconds * 1000ULL : 10000);
        metrics = &runMetrics;
        const int status = run(options);
        metrics = nullptr;
        return status;
    }

    // The device takes 128000 bytes a second: a slice of 6400 in 50 ms.
    void paceTheDevice() {
        driver.afterWrite = [this](std::size_t) { clockMs += driver.writeSizes.back() / 128; };
    }

    std::string metricsPath = dir.file("iqfeeder.prom");
};

struct MetricsCase {
    const char* name;
    std::function<void(MetricsFixture&, RunOptions&)> arrange;
    std::map<std::string, std::string> values;  // of the file the run left
};
void PrintTo(const MetricsCase& c, std::ostream* out) {
    *out << c.name;
}

class MetricsTest : public MetricsFixture, public ::testing::WithParamInterface<MetricsCase> {};

TEST_P(MetricsTest, FileSaysWhatTheRunDidAndTheDeviceGot) {
    const MetricsCase& c = GetParam();
    RunOptions options;
    options.inputPath = dir.file("input.iq");
    writeFile(options.inputPath, patternBytes(100000));
    paceTheDevice();
    c.arrange(*this, options);

    EXPECT_EQ(runWithMetrics(options), 0);

    const auto found = samples(metricsPath);
    for (const auto& [name, value] : c.values) {
        const auto sample = found.find(name);
        ASSERT_NE(sample, found.end()) << name;
        EXPECT_EQ(sample->second, value) << name;
    }
    EXPECT_EQ(found.at("iqfeeder_device_bytes_total"), std::to_string(driver.byteCount));
    EXPECT_EQ(found.at("iqfeeder_running"), "0");
    EXPECT_EQ(found.at("iqfeeder_start_time_seconds"), "1700000000.000");
    EXPECT_EQ(found.at("iqfeeder_build_info{version=\"1.2.3\",driver=\"maker\",input_kind="
                       "\"file\"}"),
              "1");
    EXPECT_FALSE(std::filesystem::exists(metricsPath + ".tmp"));
}

const MetricsCase kMetricsCases[] = {
    // The probe's 2 s, then four buffers of 250 ms each, the last padded.
    {"Recording",
     [](MetricsFixture&, RunOptions&) {},
     {{"iqfeeder_device_bytes_total", "128000"},
      {"iqfeeder_input_bytes_total", "100000"},
      {"iqfeeder_device_write_failures_total", "0"},
      {"iqfeeder_device_open", "0"},
      {"iqfeeder_live_backlog_seconds", "0.000"},
      {"iqfeeder_last_write_timestamp_seconds", "1700000003.000"}}},
    {"NoDevice",
     [](MetricsFixture& f, RunOptions&) { f.driver.descriptions.clear(); },
     {{"iqfeeder_device_bytes_total", "0"},
      {"iqfeeder_input_bytes_total", "100000"},
      {"iqfeeder_device_write_failures_total", "4"},
      {"iqfeeder_last_write_timestamp_seconds", "0.000"}}},
    {"ShortWrites",
     [](MetricsFixture& f, RunOptions&) {
         // One byte short of every write: the rest goes next, so all of it arrives.
         f.driver.writeResult = [](std::size_t) { return WriteResult{SliceFate::Taken, -1, 1}; };
     },
     {{"iqfeeder_device_bytes_total", "128000"},
      {"iqfeeder_device_short_writes_total", "20"},
      {"iqfeeder_device_write_failures_total", "0"}}},
    // Live after the probe, 32000 bytes behind the end; 300000 bytes more after the first
    // buffer: the reader jumps from 410000 to 32000 behind 710000, leaving out 268000. The last
    // write is after the first buffer, the end 200 ms (32000 bytes) later.
    {"LiveJump",
     [](MetricsFixture& f, RunOptions& options) {
         writeFile(options.inputPath, patternBytes(400000));
         const std::string path = options.inputPath;
         f.onSleep = [path](std::uint32_t ms) {
             if (ms == 2000) {
                 appendPattern(path, 10000);
             }
         };
         f.driver.afterWrite = [&f, path](std::size_t index) {
             f.clockMs += f.driver.writeSizes.back() / 160;
             if (index == 4) {
                 appendPattern(path, 300000);
             }
             f.stopAsked = index == 9;
         };
         options.stats = true;
     },
     {{"iqfeeder_device_bytes_total", "64000"},
      {"iqfeeder_input_bytes_total", "64000"},
      {"iqfeeder_live_jumps_total", "1"},
      {"iqfeeder_live_bytes_skipped_total", "268000"},
      {"iqfeeder_live_steps_back_total", "0"},
      {"iqfeeder_live_backlog_seconds", "0.200"},
      {"iqfeeder_last_write_timestamp_seconds", "1700000002.400"}}},
};

INSTANTIATE_TEST_SUITE_P(Runs, MetricsTest, ::testing::ValuesIn(kMetricsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The file is replaced every statistics period, but never less often than every 10 s: here
// --stats=60 over 25 s of a paced recording.
TEST_F(MetricsFixture, IsWrittenAtLeastEveryTenSeconds) {
    RunOptions options;
    options.inputPath = dir.file("input.iq");
    writeFile(options.inputPath, patternBytes(3200000));
    options.stats = true;
    options.statsSeconds = 60;
    std::vector<std::uint64_t> writtenAtMs;
    std::string last;
    driver.afterWrite = [&](std::size_t) {
        clockMs += driver.writeSizes.back() / 128;
        const std::string now = samples(metricsPath)["iqfeeder_device_bytes_total"];
        if (now != last) {
            writtenAtMs.push_back(clockMs);
            last = now;
        }
    };

    EXPECT_EQ(runWithMetrics(options), 0);

    // Written at the start and after the passes that end at 10 s and 20 s, each seen with the
    // slice after.
    EXPECT_EQ(writtenAtMs, (std::vector<std::uint64_t>{2050, 10050, 20050}));
}

#ifndef _WIN32
// A folder that goes away under the run: said once, the run goes on and sends everything, and
// the file is written again once the folder is back.
TEST_F(MetricsFixture, FolderThatGoesAwayCostsOnlyTheMetricsUntilItIsBack) {
    const std::string folder = dir.file("metrics");
    std::filesystem::create_directory(folder);
    metricsPath = folder + "/iqfeeder.prom";
    RunOptions options;
    options.inputPath = dir.file("input.iq");
    writeFile(options.inputPath, patternBytes(1600000));
    options.stats = true;
    driver.afterWrite = [&](std::size_t index) {
        clockMs += driver.writeSizes.back() / 128;
        if (index == 50) {
            std::filesystem::remove_all(folder);
        } else if (index == 200) {
            std::filesystem::create_directory(folder);
        }
    };

    EXPECT_EQ(runWithMetrics(options), 0);

    driver.bytes.resize(1600000);
    EXPECT_EQ(driver.bytes, patternBytes(1600000));
    std::istringstream lines(errorOutput());
    std::string said;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("metrics file") != std::string::npos) {
            said += line + "\n";
        }
    }
    EXPECT_EQ(said, "iqfeeder: can't write the metrics file " + metricsPath +
                        ": No such file or directory; the transmission goes on, and the file is "
                        "written again when it can be\niqfeeder: the metrics file " +
                        metricsPath + " is written again\n");
    EXPECT_EQ(samples(metricsPath)["iqfeeder_device_bytes_total"],
              std::to_string(driver.byteCount));
}
#endif

// Label values as the format has them: a backslash, a double quote and a line end escaped.
TEST(MetricsTextTest, LabelValuesAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"0.1.0", "0.1.0"},
        {"C:\\iq\\", "C:\\\\iq\\\\"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"two\nlines", "two\\nlines"},
    };
    for (const auto& [value, escaped] : cases) {
        EXPECT_EQ(escapeLabelValue(value), escaped) << value;
    }
    MetricsText text({"1\"2", "maker", "file", 0});
    EXPECT_NE(text.format({}).find("iqfeeder_build_info{version=\"1\\\"2\",driver=\"maker\","),
              std::string_view::npos);
}

// One writer replacing the file with texts of different lengths, one reader reading it whole
// all the while: every read is one text or the other.
TEST(MetricsFileTest, ReaderNeverSeesAFileInPart) {
    testing::TempDir dir;
    std::ostringstream errors;
    Console diagnostics(errors);
    const std::string path = dir.file("iqfeeder.prom");
    MetricsFile file(path, diagnostics);
    const std::string shortText = "iqfeeder_running 1\n";
    const std::string longText = std::string(6000, '#') + "\niqfeeder_running 0\n";
    ASSERT_TRUE(file.replace(shortText));

    std::atomic<bool> done{false};
    std::size_t torn = 0;
    std::size_t reads = 0;
    std::thread reader([&] {
        while (!done) {
            const std::string text = fileText(path);
            torn += text != shortText && text != longText ? 1 : 0;
            ++reads;
        }
    });
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(file.replace(i % 2 == 0 ? longText : shortText));
    }
    done = true;
    reader.join();

    EXPECT_EQ(torn, 0U) << "of " << reads << " reads";
    EXPECT_GT(reads, 0U);
    EXPECT_EQ(errors.str(), "");
}

}  // namespace
}  // namespace iqfeeder
