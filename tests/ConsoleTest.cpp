#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "common/Console.h"
#include "common/JournalFilter.h"

namespace iqfeeder {
namespace {

// Keeps every piece of text the stream hands over, so a message split in two shows.
class RecordingBuffer : public std::streambuf {
  public:
    std::vector<std::string> writes;

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            writes.emplace_back(1, traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        writes.emplace_back(text, static_cast<std::size_t>(count));
        return count;
    }
};

struct PrintCase {
    const char* name;
    std::function<void(Console&)> print;
    std::string expected;
};

void PrintTo(const PrintCase& c, std::ostream* out) {
    *out << c.name;
}

class ConsolePrintTest : public ::testing::TestWithParam<PrintCase> {};

TEST_P(ConsolePrintTest, WritesTheFormattedMessageInOnePiece) {
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    Console console(out);
    GetParam().print(console);
    ASSERT_EQ(buffer.writes.size(), 1U);
    EXPECT_EQ(buffer.writes[0], GetParam().expected);
}

// Message lengths around the formatting buffer of 256 bytes (255 characters and the null).
const std::string k255(255, 'a');
const std::string k256(256, 'b');
const std::string kLongPath = "/srv/" + std::string(2000, 'p') + "/live.iq";

const std::vector<PrintCase> kPrintCases{
    {"FixedText", [](Console& c) { c.print("File sent.\n"); }, "File sent.\n"},
    {"Status",
     [](Console& c) {
         c.print("Status: Size of pipe file is: %i KBytes, Delay: %ims\r", 660, 250);
     },
     "Status: Size of pipe file is: 660 KBytes, Delay: 250ms\r"},
    {"NegativeNumber", [](Console& c) { c.print("Sent %i of %iKB\r", -12, 0); },
     "Sent -12 of 0KB\r"},
    {"BoundedText", [](Console& c) { c.print("%i: %.*s\n", 1, 4, "Fake Transmitter"); },
     "1: Fake\n"},
    {"JustFits", [](Console& c) { c.print("%s", k255.c_str()); }, k255},
    {"OneTooLong", [](Console& c) { c.print("%s", k256.c_str()); }, k256},
    {"LongPath", [](Console& c) { c.print("Input file is %s\n", kLongPath.c_str()); },
     "Input file is " + kLongPath + "\n"},
    {"LongPathThenNumbers", [](Console& c) { c.print("%s %i %i", kLongPath.c_str(), 7, -8); },
     kLongPath + " 7 -8"},
};

INSTANTIATE_TEST_SUITE_P(Messages, ConsolePrintTest, ::testing::ValuesIn(kPrintCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What reaches a terminal for a sequence of messages: a line printed over a carriage-return
// line is padded to cover it; anywhere else the bytes are exactly the messages. For a log
// (`journal` holds the progress interval), each message comes at its time in `atMs`, and the
// run ends at the last one.
struct ScreenCase {
    const char* name;
    bool onTerminal;
    std::vector<std::string> messages;
    std::string expected;
    std::size_t columns = 0;  // the terminal's width; 0: not known
    std::optional<std::uint32_t> journal = std::nullopt;
    std::vector<std::uint64_t> atMs = {};
};

void PrintTo(const ScreenCase& c, std::ostream* out) {
    *out << c.name;
}

class ConsoleScreenTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ConsoleScreenTest, PadsOnlyWhatWouldLeaveAResidue) {
    const ScreenCase& c = GetParam();
    std::ostringstream out;
    std::uint64_t nowMs = 0;
    JournalFilter journal(
        out, [&nowMs] { return nowMs; }, c.journal.value_or(0));
    std::ostream journalStream(&journal);
    Console console(c.journal ? journalStream : out, c.onTerminal);
    const std::size_t columns = c.columns;
    console.setColumns([columns] { return columns; });
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
        nowMs = i < c.atMs.size() ? c.atMs[i] : nowMs;
        console.print("%s", c.messages[i].c_str());
    }
    if (c.journal) {
        journal.flushFolded();
    }
    EXPECT_EQ(out.str(), c.expected);
}

const std::string kProgress = "Using pre-recorded file, Sent 96 of 70KB\r";

INSTANTIATE_TEST_SUITE_P(
    Screens, ConsoleScreenTest,
    ::testing::Values(
        ScreenCase{"LastLineCoversTheProgressLine",
                   true,
                   {kProgress, "File sent.\n"},
                   kProgress + "File sent." + std::string(30, ' ') + "\n"},
        ScreenCase{"FallingDelay",
                   true,
                   {"Delay: 625ms\r", "Delay: 62ms\r", "Delay: 0ms\r", "Delay: 250ms\r"},
                   "Delay: 625ms\rDelay: 62ms \rDelay: 0ms \rDelay: 250ms\r"},
        // Starting with its own new line, it leaves the status line standing above it.
        ScreenCase{"LineBelowTheStatusLine",
                   true,
                   {"Delay: 625ms\r", "\nDelay too high\n", "Delay: 1ms\r"},
                   "Delay: 625ms\r\nDelay too high\nDelay: 1ms\r"},
        ScreenCase{"LongerLineNeedsNothing", true, {"ab\r", "abcdef\n", "x\n"}, "ab\rabcdef\nx\n"},
        ScreenCase{"RedirectedBytesAsPrinted",
                   false,
                   {kProgress, "File sent.\n"},
                   kProgress + "File sent.\n",
                   20},
        // 20 columns: each progress line keeps 19, so none wraps and the next covers it.
        ScreenCase{
            "NarrowTerminalCutsTheRepeatingLine",
            true,
            {kProgress, "Sent 1\r", "File sent, all of it.\n"},
            "Using pre-recorded \rSent 1" + std::string(13, ' ') + "\rFile sent, all of it.\n",
            20},
        ScreenCase{"LinesFittingTheWidthStayWhole",
                   true,
                   {"Delay: 625ms\r", "Delay: 62ms\r"},
                   "Delay: 625ms\rDelay: 62ms \r",
                   13},
        // A log: the status line once a minute as a whole line, and no empty lines.
        ScreenCase{"JournalPacesTheStatusLine",
                   false,
                   {"Sending.....\n\n", "Delay: 250ms\r", "Delay: 62ms\r", "Delay: 0ms\r",
                    "\nDelay too high\n", "Delay: 1ms\r", "Delay: 2ms\r"},
                   "Sending.....\nDelay: 250ms\nDelay too high\nDelay: 1ms\n",
                   0,
                   60,
                   {0, 0, 30000, 59999, 60000, 60000, 119999}},
        ScreenCase{"JournalWithoutProgress",
                   false,
                   {kProgress, kProgress, "File sent.\n"},
                   "File sent.\n",
                   0,
                   0,
                   {0, 90000, 90000}},
        // Said when it first comes, then once a minute with its count while it goes on; gone
        // quiet for a minute, it is new again.
        ScreenCase{"JournalFoldsRepeatsIntoOneLineAMinute",
                   false,
                   {"Failed\n", "Failed\n", "Failed\n", "Delay: 9ms\r", "Failed\n", "Other\n",
                    "Other\n", "Failed\n", "Failed\n"},
                   "Failed\nFailed (2 more times)\nFailed (1 more time)\nOther\nOther\nFailed\n"
                   "Failed (1 more time)\n",
                   0,
                   0,
                   {0, 1000, 2000, 60000, 61000, 180000, 250000, 260000, 270000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleTest, AStandardErrorLineStartsBelowTheStatusLineOnTheSameScreen) {
    std::ostringstream screen;
    Console output(screen, true);
    Console errors(screen, true);
    output.shareScreenWith(errors);
    output.print("Delay: 625ms\r");
    errors.print("iqfeeder: a reason\n");
    output.print("Delay: 1ms\r");
    EXPECT_EQ(screen.str(), "Delay: 625ms\r\niqfeeder: a reason\nDelay: 1ms\r");
}

TEST(ConsoleTest, AnEmptyMessageWritesNothing) {
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    Console console(out);
    console.print("%s", "");
    EXPECT_TRUE(buffer.writes.empty());
}

}  // namespace
}  // namespace iqfeeder
