// Fuzzes the one place where outside data steers the program: the lengths the producer gives
// its file, as each pass sees them. The input is a list of moves (grow, cut, grow by whole
// buffers, leap near 2 GiB or the position cap); they are applied to a real file while the
// probe waits and after each buffer. A small model of the position rules, written apart from
// the program, predicts every console byte and, per pass, the file offset and bytes read; the
// run must match it exactly, end, and send no byte but the file's own and filler zeros.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "app/StreamRunner.h"
#include "common/Console.h"
#include "device/DeviceLink.h"
#include "device/DriverTable.h"
#include "stream/LiveFileKind.h"

namespace {

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kCap = 500000000;
// Bytes below this hold the pattern; the file is sparse (zeros) above it.
constexpr std::int64_t kPatternLimit = 1000000;
constexpr std::int64_t kEndLength = 500032000;
constexpr std::size_t kMaxMoves = 64;

std::uint8_t patternAt(std::int64_t offset) {
    const auto o = static_cast<std::uint64_t>(offset);
    return static_cast<std::uint8_t>(1 + (o * 7 + o / 251) % 251);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "position rules broken: %s\n", what.c_str());
    std::abort();
}

// The scratch file, made once per process.
class ScratchFile {
  public:
    ScratchFile() {
        char name[] = "/tmp/iqfeeder-fuzz-XXXXXX";
        fd_ = ::mkstemp(name);
        if (fd_ < 0) {
            fail("no scratch file");
        }
        path_ = name;
        std::vector<std::uint8_t> pattern(static_cast<std::size_t>(kPatternLimit));
        for (std::int64_t i = 0; i < kPatternLimit; ++i) {
            pattern[static_cast<std::size_t>(i)] = patternAt(i);
        }
        pattern_ = std::move(pattern);
    }
    ~ScratchFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }
    const std::uint8_t* pattern() const { return pattern_.data(); }

    void empty() {
        if (::ftruncate(fd_, 0) != 0) {
            fail("cannot empty the file");
        }
    }

    // Sets the length; bytes newly inside the pattern range get the pattern.
    void resize(std::int64_t from, std::int64_t to) {
        if (to < from && ::ftruncate(fd_, to) != 0) {
            fail("cannot cut the file");
        }
        for (std::int64_t at = from; at < std::min(to, kPatternLimit);) {
            const ssize_t wrote =
                ::pwrite(fd_, pattern_.data() + at,
                         static_cast<std::size_t>(std::min(to, kPatternLimit) - at), at);
            if (wrote <= 0) {
                fail("cannot write the file");
            }
            at += wrote;
        }
        if (to > from && ::ftruncate(fd_, to) != 0) {
            fail("cannot grow the file");
        }
    }

  private:
    int fd_ = -1;
    std::string path_;
    std::vector<std::uint8_t> pattern_;
};

struct Move {
    std::uint8_t kind;
    std::uint16_t value;
};

// What the model expects of one pass: the console text and where its read starts.
struct PassPlan {
    std::int64_t offset;  // the file's offset when the read starts
    std::int64_t length;  // the file's length then
    std::int64_t bufferSize;
};

struct Plan {
    std::string console;
    std::vector<PassPlan> passes;
    std::vector<std::int64_t> lengths;  // the file's length after each event (probe, pass)
    bool ended = false;
};

std::string format(const char* text, std::int64_t a, std::int64_t b) {
    char line[128];
    std::snprintf(line, sizeof line, text, static_cast<int>(a), static_cast<int>(b));
    return line;
}

// The rules, written from their description, in 64-bit arithmetic throughout.
class Model {
  public:
    Model(const std::vector<Move>& moves, std::int64_t initialLength)
        : moves_(moves), length_(initialLength) {}

    Plan run() {
        std::int64_t readPosition = 0;
        std::int64_t bufferSize = 32000;
        bool recorded = false;
        while (readPosition < kCap) {
            if (plan_.passes.size() > 400) {
                return {};  // too long to be worth running
            }
            std::int64_t fileSize = std::min(length_, kMaxPosition);
            const std::int64_t probeSize = fileSize;
            std::int64_t offset = 0;
            const auto seek = [&offset](std::int64_t to) {
                if (to >= 0) {
                    offset = to;
                }
            };
            if (readPosition != 0) {
                seek(readPosition);
            } else {
                plan_.console += "Checking if it's a recorded file or live stream.....\n";
                event(recorded);
                fileSize = std::min(length_, kMaxPosition);
                if (fileSize == probeSize) {
                    recorded = true;
                } else {
                    readPosition = fileSize - 32000;
                    seek(readPosition);
                }
            }
            if (recorded) {
                plan_.console += format("Using pre-recorded file, Sent %i of %iKB\r",
                                        readPosition / 1000, fileSize / 1000);
                if (readPosition > fileSize) {
                    plan_.console += "File sent.\n";
                    plan_.ended = true;
                    return plan_;
                }
            } else {
                if (readPosition > fileSize) {
                    plan_.console += "\nInput stream bitrate not high enough\n";
                    readPosition = fileSize - bufferSize;
                    seek(readPosition);
                    if (bufferSize == 32000) {
                        bufferSize = 64000;
                        plan_.console += "Increasing buffer to 64000Bytes\n";
                        readPosition = fileSize - bufferSize;
                        seek(readPosition);
                    }
                }
                if (fileSize - readPosition > 200000) {
                    plan_.console += "\nDelay too high, re-started buffer..\n";
                    readPosition = fileSize - bufferSize;
                    seek(readPosition);
                }
                plan_.console += format("Status: Size of pipe file is: %i KBytes, Delay: %ims\r",
                                        fileSize / 1000, (fileSize - readPosition) / 128);
            }
            plan_.passes.push_back({offset, length_, bufferSize});
            event(recorded);
            readPosition = std::min(readPosition + bufferSize, kMaxPosition);
        }
        plan_.ended = true;
        return plan_;
    }

  private:
    // The producer's next move, or once they are spent, the leap that ends a live run.
    void event(bool recorded) {
        if (next_ < moves_.size()) {
            const Move move = moves_[next_++];
            const std::int64_t value = move.value;
            switch (move.kind % 4) {
                case 0:
                    length_ += value * 8;
                    break;
                case 1:
                    length_ = std::min(length_, value * 16);
                    break;
                case 2:
                    length_ += 32000 * (value % 3);
                    break;
                default:
                    // Near the largest 32-bit length or the position cap; a recording stays
                    // short so that sending it stays quick.
                    if (!recorded) {
                        length_ = (value & 1) != 0 ? kMaxPosition - 100000 + value * 4
                                                   : kCap - 300000 + value * 8;
                    }
                    break;
            }
            if (recorded) {
                length_ = std::min(length_, kPatternLimit);
            }
        } else if (!recorded) {
            length_ = kEndLength;
        }
        plan_.lengths.push_back(length_);
    }

    const std::vector<Move>& moves_;
    std::int64_t length_;
    std::size_t next_ = 0;
    Plan plan_;
};

// The device: checks each buffer as its fifth slice arrives, then lets the producer move.
class Device {
  public:
    Device(const Plan& plan, ScratchFile& file, std::int64_t& length)
        : plan_(plan), file_(file), length_(length) {}

    iqfeeder::DriverTable table() {
        iqfeeder::DriverTable table;
        table.context = this;
        table.list = [](void*, bool, std::vector<iqfeeder::ListedDevice>& devices) {
            devices.assign(1, iqfeeder::ListedDevice{"Fuzz", ""});
            return true;
        };
        table.open = [](void* self, int, const iqfeeder::OpenSettings&,
                        iqfeeder::DeviceHandle* handle) {
            *handle = self;
            return true;
        };
        table.submit = [](void* self, iqfeeder::DeviceHandle, const iqfeeder::SliceToSend& slice) {
            auto* device = static_cast<Device*>(self);
            device->write(slice.bytes, slice.size);
            device->reports_.push_back({slice.id, iqfeeder::SliceFate::Taken, slice.size});
        };
        table.status = [](void* self, iqfeeder::DeviceHandle,
                          std::vector<iqfeeder::SliceReport>& reports) {
            auto& mine = static_cast<Device*>(self)->reports_;
            reports.insert(reports.end(), mine.begin(), mine.end());
            mine.clear();
        };
        table.close = [](void* self, iqfeeder::DeviceHandle,
                         std::vector<iqfeeder::SliceReport>& reports) {
            auto& mine = static_cast<Device*>(self)->reports_;
            reports.insert(reports.end(), mine.begin(), mine.end());
            mine.clear();
            return true;
        };
        return table;
    }

    // The producer's move at the next event.
    void producerMoves() {
        if (event_ >= plan_.lengths.size()) {
            fail("more passes or probes than the rules allow");
        }
        file_.resize(length_, plan_.lengths[event_]);
        length_ = plan_.lengths[event_++];
    }

    std::size_t passes() const { return pass_; }

  private:
    void write(const std::uint8_t* data, std::uint32_t size) {
        buffer_.insert(buffer_.end(), data, data + size);
        if (++slices_ % 5 != 0) {
            return;
        }
        if (pass_ >= plan_.passes.size()) {
            fail("a pass the rules don't have");
        }
        const PassPlan& expected = plan_.passes[pass_];
        if (static_cast<std::int64_t>(buffer_.size()) != expected.bufferSize) {
            fail("pass " + std::to_string(pass_) + " sent " + std::to_string(buffer_.size()) +
                 " bytes, not " + std::to_string(expected.bufferSize));
        }
        // The pattern up to where the file's pattern bytes end, zeros after.
        const std::int64_t patternEnd = std::min(expected.length, kPatternLimit);
        const auto fromFile = static_cast<std::size_t>(std::clamp<std::int64_t>(
            patternEnd - expected.offset, 0, static_cast<std::int64_t>(buffer_.size())));
        if (std::memcmp(buffer_.data(), file_.pattern() + std::min(expected.offset, patternEnd),
                        fromFile) != 0 ||
            std::any_of(buffer_.begin() + static_cast<std::ptrdiff_t>(fromFile), buffer_.end(),
                        [](std::uint8_t byte) { return byte != 0; })) {
            fail("pass " + std::to_string(pass_) + " did not send the file's bytes from " +
                 std::to_string(expected.offset));
        }
        buffer_.clear();
        ++pass_;
        producerMoves();
    }

    const Plan& plan_;
    ScratchFile& file_;
    std::int64_t& length_;
    std::vector<std::uint8_t> buffer_;
    std::size_t slices_ = 0;
    std::size_t pass_ = 0;
    std::size_t event_ = 0;
    std::vector<iqfeeder::SliceReport> reports_;  // not yet asked for
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile file;
    if (size < 3) {
        return 0;
    }
    // The first three bytes give the length the run starts with, within the pattern.
    const std::int64_t initialLength =
        ((std::int64_t{data[0]} << 16) | (std::int64_t{data[1]} << 8) | data[2]) % kPatternLimit;
    std::vector<Move> moves;
    for (std::size_t at = 3; at + 3 <= size && moves.size() < kMaxMoves; at += 3) {
        moves.push_back({data[at], static_cast<std::uint16_t>((data[at + 1] << 8) | data[at + 2])});
    }
    const Plan plan = Model(moves, initialLength).run();
    if (!plan.ended) {
        return 0;
    }

    file.empty();
    file.resize(0, initialLength);
    std::int64_t length = initialLength;
    Device device(plan, file, length);
    std::ostringstream out;
    iqfeeder::Console console(out);
    // What goes to standard error: that the cap ended a live run.
    std::ostringstream errors;
    iqfeeder::Console diagnostics(errors);
    iqfeeder::DeviceLink link(device.table(), console);
    iqfeeder::StreamRunner runner(
        link, {console, diagnostics, [&device](std::uint32_t ms) {
                   if (ms != iqfeeder::kProbeWaitMs) {
                       fail("a wait of " + std::to_string(ms) + " ms; the file never went away");
                   }
                   device.producerMoves();
               }});
    if (runner.run(file.path()) != 0) {
        fail("the run did not end with status 0");
    }
    const std::string preamble = "\nDevices connected:\n0: Fuzz\n\nInput file is " + file.path() +
                                 "\nSending IQ data to FTDI USB device.....\n\n";
    if (out.str() != preamble + plan.console) {
        fail("console differs:\n" + out.str() + "\nexpected:\n" + preamble + plan.console);
    }
    if (device.passes() != plan.passes.size()) {
        fail("the run sent " + std::to_string(device.passes()) + " buffers, not " +
             std::to_string(plan.passes.size()));
    }
    return 0;
}
