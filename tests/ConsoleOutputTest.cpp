// Standard output through a pipe whose reader stalls: nothing waits for it, what it can't take
// is held within the bound, and past the bound the carriage-return lines go first, then further
// lines, counted and reported once the reader takes text again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ConsoleOutput.h"

namespace iqfeeder {
namespace {

// A pipe that holds one page, read only when the test says so.
class StalledPipe {
  public:
    StalledPipe() {
        EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0);
        (void)::fcntl(fds_[1], F_SETPIPE_SZ, 4096);
        (void)::fcntl(fds_[0], F_SETFL, O_NONBLOCK);  // the test's own end
    }
    ~StalledPipe() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    StalledPipe(const StalledPipe&) = delete;
    StalledPipe& operator=(const StalledPipe&) = delete;
    int writeEnd() const { return fds_[1]; }
    // Everything the pipe holds now.
    std::string drain() {
        std::string text;
        char chunk[4096];
        for (ssize_t got; (got = ::read(fds_[0], chunk, sizeof chunk)) > 0;) {
            text.append(chunk, static_cast<std::size_t>(got));
        }
        return text;
    }

  private:
    int fds_[2] = {-1, -1};
};

std::string numbered(const char* kind, int i, char end) {
    std::string line = std::string(kind) + " line " + std::to_string(i);
    line.resize(49, '.');
    return line + end;
}

struct StallCase {
    const char* name;
    int linesBefore;    // "\n" lines written while the reader stalls
    int progressLines;  // then "\r" lines
    int linesAfter;     // then "\n" lines again
    bool anyLost;
};

const StallCase kStallCases[] = {
    {"WithinTheBound", 600, 300, 100, false},
    {"ProgressLinesGoFirst", 600, 2000, 100, true},
    {"ThenFurtherLines", 3000, 0, 0, true},
};

class ConsoleOutputStallTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(ConsoleOutputStallTest, NothingWaitsAndWhatIsLostIsCountedOnce) {
    const StallCase& c = GetParam();
    StalledPipe pipe;
    std::vector<std::uint64_t> reported;
    std::vector<std::string> normal;
    std::string all;
    {
        ConsoleOutput output(pipe.writeEnd(), [](const std::string& why) { FAIL() << why; });
        output.onLinesLost([&reported](std::uint64_t lines) { reported.push_back(lines); });
        const auto write = [&output, &all](const std::string& line) {
            output.sputn(line.data(), static_cast<std::streamsize>(line.size()));
            all += line;
        };
        for (int i = 0; i < c.linesBefore; ++i) {
            normal.push_back(numbered("first", i, '\n'));
            write(normal.back());
        }
        for (int i = 0; i < c.progressLines; ++i) {
            write(numbered("progress", i, '\r'));
        }
        for (int i = 0; i < c.linesAfter; ++i) {
            normal.push_back(numbered("last", i, '\n'));
            write(normal.back());
        }
        EXPECT_TRUE(reported.empty());  // not while the reader takes nothing

        // The reader takes text again: what was held follows, then the count of what was lost.
        std::string arrived = pipe.drain();
        for (int round = 0; round < 40; ++round) {
            output.pump();
            arrived += pipe.drain();
        }
        const std::uint64_t inputLines =
            static_cast<std::uint64_t>(c.linesBefore + c.progressLines + c.linesAfter);
        std::uint64_t arrivedLines = 0;
        for (const char ch : arrived) {
            arrivedLines += ch == '\n' || ch == '\r' ? 1 : 0;
        }
        EXPECT_EQ(output.linesLost(), inputLines - arrivedLines);
        if (!c.anyLost) {
            EXPECT_EQ(arrived, all);
            EXPECT_TRUE(reported.empty());
            return;
        }
        ASSERT_EQ(reported.size(), 1U);
        EXPECT_EQ(reported[0], output.linesLost());
        // Lines arrive whole and in order; a plain line goes only once no progress line is left.
        std::size_t at = 0;
        std::size_t found = 0;
        for (const std::string& line : normal) {
            const std::size_t next = arrived.find(line, at);
            if (next == std::string::npos) {
                break;
            }
            at = next + line.size();
            ++found;
        }
        if (c.progressLines > 0) {
            EXPECT_EQ(found, normal.size()) << "a plain line lost while progress lines were held";
        } else {
            EXPECT_EQ(arrived.size(), found * 50);
            EXPECT_EQ(output.linesLost(), normal.size() - found);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stalls, ConsoleOutputStallTest, ::testing::ValuesIn(kStallCases),
                         [](const auto& info) { return std::string(info.param.name); });

// In blocks: held until a block is full or a second old, then written at once.
TEST(ConsoleOutputTest, BlocksGoOutWhenFullOrASecondOld) {
    StalledPipe pipe;
    std::uint64_t clockMs = 0;
    ConsoleOutput output(pipe.writeEnd(), nullptr);
    output.writeInBlocks([&clockMs] { return clockMs; });
    const std::string line = numbered("block", 0, '\r');
    for (int i = 0; i < 10; ++i) {
        output.sputn(line.data(), static_cast<std::streamsize>(line.size()));
    }
    clockMs = 999;
    output.pump();
    EXPECT_EQ(pipe.drain(), "");
    clockMs = 1000;
    output.pump();
    EXPECT_EQ(pipe.drain().size(), 10 * line.size());
    for (std::size_t sent = 0; sent < ConsoleOutput::kBlockBytes; sent += line.size()) {
        EXPECT_EQ(pipe.drain(), "");
        output.sputn(line.data(), static_cast<std::streamsize>(line.size()));
    }
    EXPECT_GE(pipe.drain().size(), ConsoleOutput::kBlockBytes);
}

}  // namespace
}  // namespace iqfeeder
