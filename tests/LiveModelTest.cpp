// Seeded random live runs: a producer with a random temper (steady, bursty, stalling, now and
// then emptying or cutting its file) against what must hold whatever it does:
// - no status line shows a delay above 1562 ms, and its size is the file's length / 1000;
// - the buffer is raised at most once, only from 32000, and only on overtaking the end;
// - every byte sent at file offset o is the file's byte o, in file order within a buffer,
//   and the only zeros are the filler after the end of the file;
// - the bytes sent sit where the status line says the reader is, and a step back or a jump
//   reads the newest bufferSize bytes;
// - the probe runs again exactly when the file was empty in the pass before.
// A failure names its seed; IQFEEDER_MODEL_SEED=N replays run N alone.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/StreamRunner.h"
#include "tests/support/ExpectedLines.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/RunFixture.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::FakeDriver;
using testing::kJumpedLines;
using testing::kLengthThatEndsALiveRun;
using testing::kOvertakenLines;
using testing::kProbeLine;
using testing::kRaisedLine;
using testing::statusLine;

constexpr std::uint32_t kSeeds = 400;
// The producer stalls rather than grow its file past this.
constexpr std::size_t kMaxLength = 6000000;

std::string visible(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        shown += c == '\n'   ? std::string("\\n")
                 : c == '\r' ? std::string("\\r")
                             : std::string(1, c);
    }
    return shown;
}

// How often the runs met each case, so the model can't quietly stop reaching one.
struct Coverage {
    int passes = 0;
    int overtakings = 0;
    int raises = 0;
    int jumps = 0;
    int reprobes = 0;
    int readsAtTheEnd = 0;      // position equal to the length: nothing read
    int shorterThanBuffer = 0;  // where seeks to negative positions fail
};

// The bytes before the first zero: all a read delivered, as the file never holds a zero.
std::size_t bytesBeforeZero(const std::vector<std::uint8_t>& buffer) {
    const void* zero = std::memchr(buffer.data(), 0, buffer.size());
    return zero == nullptr
               ? buffer.size()
               : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buffer.data());
}

bool allZerosFrom(const std::vector<std::uint8_t>& buffer, std::size_t from) {
    return from >= buffer.size() ||
           (buffer[from] == 0 && std::memcmp(buffer.data() + from, buffer.data() + from + 1,
                                             buffer.size() - from - 1) == 0);
}

class ModelRun {
  public:
    // `content` holds the byte the producer writes at each offset (never zero).
    ModelRun(std::uint32_t seed, std::string path, const std::vector<std::uint8_t>& content,
             Coverage& coverage)
        : rng_(seed), path_(std::move(path)), content_(content), coverage_(coverage) {}
    ~ModelRun() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ModelRun(const ModelRun&) = delete;
    ModelRun& operator=(const ModelRun&) = delete;

    // The first invariant the run broke, "" when none.
    std::string check() {
        pickTemper();
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            return "cannot create the input file";
        }
        append(initialLength_);

        Console console(out_);
        std::ostringstream errors;
        Console diagnostics(errors);
        DeviceLink link(driver_.table(), console);
        StreamRunner runner(link,
                            {console, diagnostics, [this](std::uint32_t ms) { probeWait(ms); }});
        driver_.afterWrite = [this](std::size_t writeIndex) {
            if (writeIndex % 5 == 4) {
                checkPass();
                produce();
            }
        };
        const int exitStatus = runner.run(path_);
        if (exitStatus != 0) {
            fail("the run returned " + std::to_string(exitStatus));
        } else if (!endingSeen_) {
            fail("the run ended before the position cap");
        } else if (driver_.calls.back() != "close") {
            fail("the device was not closed at the end");
        }
        return failure_.empty() ? "" : failure_ + "\n  console: " + visible(out_.str());
    }

  private:
    std::size_t uniform(std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(rng_);
    }
    bool chance(double probability) { return std::bernoulli_distribution(probability)(rng_); }

    void pickTemper() {
        const std::size_t starts[] = {0, uniform(1, 31999), 32000, uniform(32001, 64000),
                                      uniform(64001, 400000)};
        initialLength_ = starts[uniform(0, 4)];
        // Mean growth per pass from well below to far above the 32000 the device takes.
        const std::size_t ranges[][2] = {{0, 30000}, {15000, 50000}, {30000, 150000}, {0, 250000}};
        const auto& range = ranges[uniform(0, 3)];
        minGrowth_ = range[0];
        maxGrowth_ = range[1];
        const double stalls[] = {0.0, 0.1, 0.3};
        stallChance_ = stalls[uniform(0, 2)];
        const double cuts[] = {0.0, 0.02, 0.1};
        truncateChance_ = cuts[uniform(0, 2)];
        plannedPasses_ = uniform(5, 40);
    }

    void append(std::size_t count) {
        count = std::min(count, kMaxLength - length_);
        while (count > 0) {
            const ssize_t wrote = ::write(fd_, content_.data() + length_, count);
            if (wrote <= 0) {
                fail("the producer cannot write");
                return;
            }
            length_ += static_cast<std::size_t>(wrote);
            count -= static_cast<std::size_t>(wrote);
        }
    }

    void truncateTo(std::int64_t length) {
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
            fail("the producer cannot truncate");
        }
        length_ = static_cast<std::size_t>(std::min<std::int64_t>(length, kMaxLength));
    }

    void probeWait(std::uint32_t milliseconds) {
        if (milliseconds != 2000 || ending_) {
            fail("unexpected wait of " + std::to_string(milliseconds) + " ms");
            return;
        }
        // The producer is always at work while the probe waits, so the file stays live.
        append(chance(0.2) ? uniform(1, 40000) : uniform(1, 200000));
    }

    // After each buffer: a random change, or the leap that ends the run. An empty file means
    // the next pass probes, and the leap must not meet a probe.
    void produce() {
        if (ending_) {
            truncateTo(kLengthThatEndsALiveRun);
            return;
        }
        if (passes_ >= plannedPasses_ && length_ > 0) {
            ending_ = true;
            truncateTo(kLengthThatEndsALiveRun);
        } else if (chance(truncateChance_)) {
            truncateTo(static_cast<std::int64_t>(chance(0.5) ? 0 : uniform(0, length_)));
        } else if (!chance(stallChance_)) {
            // Now and then exactly a buffer or two, so the reader lands right on the end.
            append(chance(0.1) ? 32000 * uniform(1, 2) : uniform(minGrowth_, maxGrowth_));
        }
    }

    void fail(const std::string& what) {
        if (failure_.empty()) {
            failure_ = "pass " + std::to_string(passes_ + 1) + ": " + what;
            plannedPasses_ = 0;  // wind the run up
        }
    }

    void checkPass() {
        const std::string all = out_.str();
        if (passes_ == 0) {
            const std::string preamble =
                "\nDevices connected:\n0: USB <-> Serial\n\nInput file is " + path_ +
                "\nSending IQ data to FTDI USB device.....\n\n";
            if (!all.starts_with(preamble)) {
                fail("unexpected start of the run");
            }
            consoleSeen_ = std::min(preamble.size(), all.size());
        }
        const std::string chunk = all.substr(consoleSeen_);
        consoleSeen_ = all.size();
        std::vector<std::uint8_t> buffer;
        buffer.swap(driver_.bytes);
        if (failure_.empty()) {
            checkPass(chunk, buffer);
        }
        previousLength_ = length_;
        ++passes_;
    }

    void checkPass(const std::string& chunk, const std::vector<std::uint8_t>& buffer) {
        std::string_view rest = chunk;
        const auto take = [&rest](const std::string& line) {
            const bool found = rest.starts_with(line);
            if (found) {
                rest.remove_prefix(line.size());
            }
            return found;
        };
        const bool probed = take(kProbeLine);
        const bool overtaken = take(kOvertakenLines);
        const bool raised = overtaken && take(kRaisedLine);
        const bool jumped = take(kJumpedLines);
        int kilobytes = -1;
        int milliseconds = -1;
        const std::string statusText(rest);
        std::sscanf(statusText.c_str(), "Status: Size of pipe file is: %d KBytes, Delay: %dms",
                    &kilobytes, &milliseconds);
        if (statusText != statusLine(kilobytes, milliseconds) || (overtaken && jumped)) {
            return fail("unexpected console text " + visible(chunk));
        }

        if (raised) {
            if (raisedAlready_ || bufferSize_ != 32000) {
                return fail("buffer raised again");
            }
            raisedAlready_ = true;
            bufferSize_ = 64000;
        }
        const std::vector<std::uint32_t> slices(driver_.writeSizes.end() - 5,
                                                driver_.writeSizes.end());
        if (slices != std::vector<std::uint32_t>(5, static_cast<std::uint32_t>(bufferSize_ / 5)) ||
            buffer.size() != bufferSize_) {
            return fail("buffer of " + std::to_string(buffer.size()) + " bytes, expected " +
                        std::to_string(bufferSize_));
        }

        const auto length = static_cast<std::int64_t>(length_);
        const auto size = static_cast<std::int64_t>(bufferSize_);
        if (ending_) {
            if (chunk != kJumpedLines + statusLine(500032, size / 128) ||
                !allZerosFrom(buffer, 0)) {
                fail("the leap to the position cap went wrong: " + visible(chunk));
            }
            endingSeen_ = true;
            return;
        }
        if (probed != (passes_ == 0 || previousLength_ == 0)) {
            return fail(probed ? "probe without an empty file before" : "probe missing");
        }
        coverage_.passes += 1;
        coverage_.overtakings += overtaken ? 1 : 0;
        coverage_.raises += raised ? 1 : 0;
        coverage_.jumps += jumped ? 1 : 0;
        coverage_.reprobes += probed && passes_ > 0 ? 1 : 0;
        coverage_.shorterThanBuffer += length < size ? 1 : 0;
        coverage_.readsAtTheEnd += length >= size && milliseconds == 0 ? 1 : 0;
        if (kilobytes != length / 1000) {
            return fail("size " + std::to_string(kilobytes) + " KBytes for a file of " +
                        std::to_string(length) + " bytes");
        }
        if (milliseconds > 1562) {
            return fail("delay of " + std::to_string(milliseconds) + " ms");
        }

        const auto read = static_cast<std::int64_t>(bytesBeforeZero(buffer));
        if (!allZerosFrom(buffer, static_cast<std::size_t>(read))) {
            return fail("file bytes after filler zeros");
        }
        // Where the reader must be, from the status line: backlog / 128 == delay.
        const std::int64_t nearest = length - 128 * std::int64_t{milliseconds};
        const std::int64_t farthest = nearest - 127;
        std::int64_t from = -1;
        if (read > 0 && read < size) {
            from = length - read;  // a short read stops at the end of the file
            if (from < 0 || std::memcmp(buffer.data(), content_.data() + from,
                                        static_cast<std::size_t>(read)) != 0) {
                return fail("the " + std::to_string(read) + " bytes read are not the file's last");
            }
        } else if (read == size) {
            for (std::int64_t at = std::max<std::int64_t>(farthest, 0);
                 at <= std::min(nearest, length - size) && from < 0; ++at) {
                if (std::memcmp(buffer.data(), content_.data() + at, bufferSize_) == 0) {
                    from = at;
                }
            }
            if (from < 0) {
                return fail("the buffer is not the file's bytes 128 * delay behind its end");
            }
        }
        // Seeks can only fail (and leave the file elsewhere) when the file is shorter than the
        // buffer; otherwise the bytes read must start where the status line puts the reader.
        if (length >= size) {
            if (read == 0 ? milliseconds != 0 : (from < farthest || from > nearest)) {
                return fail("read at " + std::to_string(from) + " while the status line shows " +
                            std::to_string(milliseconds) + " ms");
            }
            if ((overtaken || jumped) && from != length - size) {
                return fail("did not move to the newest " + std::to_string(size) + " bytes");
            }
        }
    }

    std::mt19937 rng_;
    std::string path_;
    const std::vector<std::uint8_t>& content_;
    Coverage& coverage_;
    int fd_ = -1;

    // The producer's temper for this run.
    std::size_t initialLength_ = 0;
    std::size_t minGrowth_ = 0;
    std::size_t maxGrowth_ = 0;
    double stallChance_ = 0;
    double truncateChance_ = 0;
    std::size_t plannedPasses_ = 0;

    std::size_t length_ = 0;  // the input file's length as the producer left it
    bool ending_ = false;     // the leap past the cap is made; the next pass must end the run
    bool endingSeen_ = false;

    FakeDriver driver_;
    std::ostringstream out_;
    std::size_t consoleSeen_ = 0;
    std::size_t passes_ = 0;
    std::size_t previousLength_ = 0;
    std::size_t bufferSize_ = 32000;
    bool raisedAlready_ = false;
    std::string failure_;
};

TEST(LiveModelTest, RandomProducersNeverBreakThePositionInvariants) {
    const testing::TempDir dir;
    const auto content = testing::patternBytes(kMaxLength);
    Coverage coverage;
    int failures = 0;
    // IQFEEDER_MODEL_SEED=N replays run N alone.
    const char* only = std::getenv("IQFEEDER_MODEL_SEED");
    const std::uint32_t first = only != nullptr ? static_cast<std::uint32_t>(std::atoi(only)) : 1;
    const std::uint32_t last = only != nullptr ? first : kSeeds;
    for (std::uint32_t seed = first; seed <= last && failures < 3; ++seed) {
        // A fresh file each run: some file systems write a file out when it is emptied.
        const std::string path = dir.file("live-" + std::to_string(seed) + ".iq");
        ModelRun model(seed, path, content, coverage);
        if (const std::string failure = model.check(); !failure.empty()) {
            ADD_FAILURE() << "seed " << seed << ", " << failure;
            ++failures;
        }
        std::filesystem::remove(path);
    }
    std::printf(
        "%d passes: %d overtakings, %d raises, %d jumps, %d probes again, %d reads at "
        "the end, %d with the file shorter than the buffer\n",
        coverage.passes, coverage.overtakings, coverage.raises, coverage.jumps, coverage.reprobes,
        coverage.readsAtTheEnd, coverage.shorterThanBuffer);
    if (only == nullptr) {
        for (const int seen :
             {coverage.overtakings, coverage.raises, coverage.jumps, coverage.reprobes,
              coverage.readsAtTheEnd, coverage.shorterThanBuffer}) {
            EXPECT_GT(seen, 10);
        }
    }
}

}  // namespace
}  // namespace iqfeeder
