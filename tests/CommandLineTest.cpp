// The command line, case by case: the parser in this process, then the real program for what
// only it shows (what it prints first, how it ends, whether it touched the driver at all), with
// the stand-in library on Linux and, deployed beside it, on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "common/Decimal.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#ifdef _WIN32
#include "tests/windows/WindowsSupport.h"
#endif

namespace iqfeeder {
namespace {

using testing::patternBytes;
using testing::readFile;
using testing::TempDir;

// The parser alone, in this process: what it makes of a command line, and the text a refused
// one prints on standard error (the program prints usageErrorText and exits 2, as the end-to-end
// cases below show).
struct ParseCase {
    const char* name;
    std::vector<std::string> args;  // after the program's name
    CommandLine::Action action;
    std::string shows{};  // Help, Version, UsageError: a line of what is printed
    std::string input{};  // Run: the operand taken as FILE
    DeviceChoice device{};
    DriverChoice driver = DriverChoice::Automatic;
    std::optional<std::uint32_t> progressSeconds{};
};
void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandLineParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParseTest, ReadsTheOptionsOrSaysWhyNot) {
    const ParseCase& c = GetParam();
    std::vector<std::string> args{"iqfeeder"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    const CommandLine line = parseCommandLine(args, true);

    ASSERT_EQ(line.action, c.action) << line.error;
    switch (c.action) {
        case CommandLine::Action::Help:
            EXPECT_NE(helpText().find(c.shows + "\n"), std::string::npos) << helpText();
            break;
        case CommandLine::Action::Version:
            EXPECT_EQ(versionText().substr(0, versionText().find('\n')), c.shows);
            break;
        case CommandLine::Action::UsageError:
            EXPECT_TRUE(usageErrorText(line).starts_with(c.shows + "\n")) << usageErrorText(line);
            break;
        case CommandLine::Action::Run:
        case CommandLine::Action::List:
            EXPECT_EQ(line.run.inputPath, c.input);
            EXPECT_EQ(line.run.device.index, c.device.index);
            EXPECT_EQ(line.run.device.serial, c.device.serial);
            EXPECT_EQ(line.driver, c.driver);
            EXPECT_EQ(line.run.progressSeconds, c.progressSeconds);
            break;
    }
}

using Action = CommandLine::Action;
#ifdef IQFEEDER_HAVE_SRT
constexpr const char* kSchemes = "tcp://, udp:// or srt://";
#else
constexpr const char* kSchemes = "tcp:// or udp://";
#endif
const std::string kBadIndex = "': give a number from 0 to 2147483647";
const std::string kMalformed = "': give tcp://HOST:PORT, tcp://ADDR:PORT?listen or udp://ADDR:PORT";

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineParseTest,
    ::testing::Values(
        ParseCase{"Help", {"--help"}, Action::Help, "Usage: iqfeeder [OPTIONS] FILE"},
        ParseCase{"HelpShort",
                  {"-h", "f.iq"},
                  Action::Help,
                  "  -h, --help            show this help and exit"},
        ParseCase{"Version", {"--version"}, Action::Version, "iqfeeder " IQFEEDER_VERSION},
        ParseCase{"VersionShort", {"-V"}, Action::Version, "iqfeeder " IQFEEDER_VERSION},
        ParseCase{"List", {"--list"}, Action::List, ""},
        ParseCase{"Plain", {"f.iq"}, Action::Run, "", "f.iq"},
        ParseCase{"DeviceByIndex", {"-d", "2", "f.iq"}, Action::Run, "", "f.iq", {2, "", true}},
        ParseCase{"DeviceIndexJoined", {"-d1", "f.iq"}, Action::Run, "", "f.iq", {1, "", true}},
        ParseCase{"DeviceBySerial",
                  {"--serial=FAKE0001", "f.iq"},
                  Action::Run,
                  "",
                  "f.iq",
                  {0, "FAKE0001", false}},
        ParseCase{
            "NoDriver", {"--driver=none", "f.iq"}, Action::Run, "", "f.iq", {}, DriverChoice::None},
        ParseCase{"MakersLibraryByName",
                  {"-D", "maker", "f.iq"},
                  Action::Run,
                  "",
                  "f.iq",
                  {},
                  DriverChoice::Maker},
        ParseCase{"OptionsAfterTheFileAreIgnored",
                  {"f.iq", "-d", "x", "--bogus"},
                  Action::Run,
                  "",
                  "f.iq"},
        ParseCase{"DoubleDashEndsTheOptions", {"--", "-f.iq"}, Action::Run, "", "-f.iq"},
        ParseCase{"MissingValueAfterTheFile", {"f.iq", "--device"}, Action::Run, "", "f.iq"},
        ParseCase{"NothingGiven", {}, Action::UsageError, "Usage: iqfeeder FILE"},
        ParseCase{"NoFile", {"-d", "1"}, Action::UsageError, "iqfeeder: no input FILE given"},
        ParseCase{"NotANumber",
                  {"-d", "x", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: invalid device index 'x" + kBadIndex},
        ParseCase{"NegativeIndex",
                  {"-d", "-1", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: invalid device index '-1" + kBadIndex},
        ParseCase{"IndexBeyond2To31",
                  {"--device=2147483648", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: invalid device index '2147483648" + kBadIndex},
        ParseCase{"IndexAndSerial",
                  {"-d", "1", "-s", "FAKE0001", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: --device and --serial can't be used together"},
        ParseCase{"UnknownOption",
                  {"--bogus", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: unknown option '--bogus'"},
        ParseCase{
            "UnknownShortOption", {"-lx"}, Action::UsageError, "iqfeeder: unknown option '-x'"},
        ParseCase{"MissingValueBeforeTheFile",
                  {"--device"},
                  Action::UsageError,
                  "iqfeeder: option '--device' needs a value"},
        ParseCase{"ValueForAFlag",
                  {"--list=2"},
                  Action::UsageError,
                  "iqfeeder: option '--list' takes no value"},
        ParseCase{"UnknownDriver",
                  {"--driver=ftd2xx", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: unknown driver 'ftd2xx': give maker, libftdi1 or none"},
        // Network inputs: refused as written, before any driver is loaded.
        ParseCase{
            "NetworkUnknownScheme",
            {"http://encoder:8080"},
            Action::UsageError,
            std::string("iqfeeder: unknown network input scheme 'http://': give ") + kSchemes},
        ParseCase{"NetworkPortZero",
                  {"tcp://127.0.0.1:0"},
                  Action::UsageError,
                  "iqfeeder: invalid port '0' in 'tcp://127.0.0.1:0': give a number from 1 "
                  "to 65535"},
        ParseCase{"NetworkPortBeyond65535",
                  {"udp://[::1]:65536"},
                  Action::UsageError,
                  "iqfeeder: invalid port '65536' in 'udp://[::1]:65536': give a number "
                  "from 1 to 65535"},
        ParseCase{"NetworkIpv6WithoutBrackets",
                  {"tcp://::1:5000"},
                  Action::UsageError,
                  "iqfeeder: malformed network input 'tcp://::1:5000" + kMalformed},
        ParseCase{"NetworkWithoutPort",
                  {"tcp://[::1]"},
                  Action::UsageError,
                  "iqfeeder: malformed network input 'tcp://[::1]" + kMalformed},
        ParseCase{"NetworkUnknownQuery",
                  {"tcp://127.0.0.1:5000?listen=2"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://127.0.0.1:5000?listen=2': option "
                  "'listen=2' is not one tcp:// takes (listen, sources= with listen, "
                  "timeout=)"},
        ParseCase{"NetworkUdpListening",
                  {"udp://127.0.0.1:5000?listen"},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?listen': option 'listen' "
                  "is not one udp:// takes (sources=, timeout=, buffer_size=)"},
        // The query's options, one rule a case.
        ParseCase{"NetworkEmptyQuery",
                  {"tcp://h:1?"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://h:1?': empty query after '?'"},
        ParseCase{"NetworkEmptyOption",
                  {"udp://127.0.0.1:5000?timeout=1&"},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?timeout=1&': empty option "
                  "in query '?timeout=1&'"},
        ParseCase{"NetworkOptionTwice",
                  {"udp://127.0.0.1:5000?timeout=1&timeout=2"},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?timeout=1&timeout=2': "
                  "option 'timeout' given twice"},
        ParseCase{"NetworkSourcesEmpty",
                  {"udp://127.0.0.1:5000?sources="},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?sources=': empty "
                  "sources=: give sources=ADDR[,ADDR...]"},
        ParseCase{"NetworkSourcesEmptyAddress",
                  {"tcp://[::1]:5000?listen&sources=127.0.0.2,,::1"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://[::1]:5000?listen&sources=127.0.0.2,,::1': "
                  "empty address in sources='127.0.0.2,,::1': give sources=ADDR[,ADDR...]"},
        ParseCase{"NetworkSourcesUnresolvable",
                  {"udp://127.0.0.1:5000?sources=127.0.0.1,nowhere.invalid"},
                  Action::UsageError,
                  "iqfeeder: network input "
                  "'udp://127.0.0.1:5000?sources=127.0.0.1,nowhere.invalid': sources= "
                  "address 'nowhere.invalid' does not resolve"},
        ParseCase{"NetworkSourcesOnAClient",
                  {"tcp://127.0.0.1:5000?sources=127.0.0.1"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://127.0.0.1:5000?sources=127.0.0.1': "
                  "sources= needs a receiving end: udp://, tcp://...?listen or "
                  "srt://...?mode=listener"},
        ParseCase{"NetworkTimeoutNotANumber",
                  {"tcp://127.0.0.1:5000?timeout=5s"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://127.0.0.1:5000?timeout=5s': invalid "
                  "timeout='5s': give microseconds, 0 for never"},
        ParseCase{"NetworkBufferSizeNotANumber",
                  {"udp://127.0.0.1:5000?buffer_size=-1"},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?buffer_size=-1': invalid "
                  "buffer_size='-1': give bytes"},
        ParseCase{"NetworkBufferSizePastItsBound",
                  {"udp://127.0.0.1:5000?buffer_size=2147483648"},
                  Action::UsageError,
                  "iqfeeder: network input 'udp://127.0.0.1:5000?buffer_size=2147483648': "
                  "invalid buffer_size='2147483648': give bytes"},
        ParseCase{"NetworkBufferSizeForTcp",
                  {"tcp://127.0.0.1:5000?listen&buffer_size=1000"},
                  Action::UsageError,
                  "iqfeeder: network input 'tcp://127.0.0.1:5000?listen&buffer_size=1000': "
                  "option 'buffer_size=1000' is not one tcp:// takes (listen, sources= "
                  "with listen, timeout=)"},
        ParseCase{"NetworkLive",
                  {"--live", "udp://127.0.0.1:5000"},
                  Action::UsageError,
                  "iqfeeder: --live is for a file: a network input is read as it comes"},
        ParseCase{"NetworkRepeated",
                  {"--repeat=2", "tcp://127.0.0.1:5000"},
                  Action::UsageError,
                  "iqfeeder: --repeat needs a recording: a network input can't be sent again"},
        // The console for a log: no progress line, the event lines as ever.
        ParseCase{"ProgressNever", {"-p", "0", "f.iq"}, Action::Run, "", "f.iq", {}, {}, 0U},
        ParseCase{"ProgressNotANumber",
                  {"--progress=1m", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: invalid --progress interval '1m': give seconds from 0 (never) "
                  "to 86400"},
        ParseCase{"StatsEveryZeroSeconds",
                  {"--stats=0", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: invalid --stats interval '0': give seconds from 1 to 86400"},
        ParseCase{"StatsWithAnEmptyValue",
                  {"--stats=", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: option '--stats' needs a value after '='"},
        // The interval goes only with the long name; "-S60" is -S, -6 and -0.
        ParseCase{"StatsShortTakesNoValue",
                  {"-S60", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: unknown option '-6'"},
        ParseCase{"LiveAndRepeat",
                  {"-L", "--repeat=2", "f.iq"},
                  Action::UsageError,
                  "iqfeeder: --repeat and --live can't be used together: a live file is "
                  "never repeated"},
        ParseCase{"MetricsWithoutAFile",
                  {"--metrics"},
                  Action::UsageError,
                  "iqfeeder: option '--metrics' needs a value"}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef IQFEEDER_HAVE_SRT
// SRT's options, refused as written as the others are.
const ParseCase kSrtCases[] = {
    ParseCase{"SrtUnknownMode",
              {"srt://127.0.0.1:5000?mode=rendezvous"},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?mode=rendezvous': invalid "
              "mode='rendezvous': give mode=listener or mode=caller"},
    ParseCase{"SrtPassphraseTooShort",
              {"srt://127.0.0.1:5000?passphrase=123456789"},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?passphrase=*****': "
              "passphrase= of 9 characters: give 10 to 79"},
    ParseCase{"SrtPassphraseTooLong",
              {"srt://127.0.0.1:5000?passphrase=" + std::string(80, 'p')},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?passphrase=*****': "
              "passphrase= of 80 characters: give 10 to 79"},
    ParseCase{"SrtKeyLength",
              {"srt://127.0.0.1:5000?pbkeylen=20"},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?pbkeylen=20': invalid "
              "pbkeylen='20': give 16, 24 or 32 (bytes)"},
    ParseCase{"SrtSourcesForACaller",
              {"srt://127.0.0.1:5000?sources=127.0.0.1"},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?sources=127.0.0.1': "
              "sources= needs a receiving end: udp://, tcp://...?listen or "
              "srt://...?mode=listener"},
    ParseCase{"SrtListenOption",
              {"srt://127.0.0.1:5000?listen"},
              Action::UsageError,
              "iqfeeder: network input 'srt://127.0.0.1:5000?listen': option 'listen' "
              "is not one srt:// takes (mode=, latency=, passphrase=, pbkeylen=, "
              "streamid=, sources=, timeout=, buffer_size=)"},
};
INSTANTIATE_TEST_SUITE_P(SrtOptions, CommandLineParseTest, ::testing::ValuesIn(kSrtCases),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// The numbers the options and the operands' queries take: digits only, up to a bound, whatever
// the bound is.
struct DecimalCase {
    const char* text;
    std::uint64_t most;
    std::optional<std::uint64_t> value;
};
class DecimalTest : public ::testing::TestWithParam<DecimalCase> {};
TEST_P(DecimalTest, TakesDigitsUpToTheBoundAndNothingElse) {
    EXPECT_EQ(parseDecimal(GetParam().text, GetParam().most), GetParam().value)
        << GetParam().text << " up to " << GetParam().most;
}
INSTANTIATE_TEST_SUITE_P(
    Numbers, DecimalTest,
    ::testing::Values(DecimalCase{"0", 0, 0}, DecimalCase{"5", 5, 5},
                      DecimalCase{"7", 5, std::nullopt}, DecimalCase{"65535", 65535, 65535},
                      DecimalCase{"65536", 65535, std::nullopt},
                      DecimalCase{"18446744073709551615", UINT64_MAX, UINT64_MAX},
                      DecimalCase{"18446744073709551616", UINT64_MAX, std::nullopt},
                      DecimalCase{"00000000000000000003", 9, 3},
                      DecimalCase{"000000000000000000003", UINT64_MAX, std::nullopt},
                      DecimalCase{"", 9, std::nullopt}, DecimalCase{"-1", 9, std::nullopt},
                      DecimalCase{"+1", 9, std::nullopt}, DecimalCase{" 1", 9, std::nullopt},
                      DecimalCase{"1s", 9, std::nullopt}));

// The real program, a handful of cases: what it prints and where, how it ends, and whether it
// touched the driver at all.
struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;  // "FILE" stands for a 1000-byte recording
    std::map<std::string, std::string> environment;
    int exitStatus;
    std::string
        shows;  // a line on standard output, or on standard error when it starts "iqfeeder:"
    std::string calls;  // what the stand-in was asked: empty when the driver was never touched
};
void PrintTo(const CommandLineCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kRunCalls = "FT_ListDevices count\nFT_ListDevices all\nFT_Open 0\nFT_Close\n";
#ifdef _WIN32
const std::string kDeviceNode = "NUL";
#else
const std::string kDeviceNode = "/dev/null";
#endif

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        // As on a PC: the program with the maker's library beside it.
        const auto folder = dir_.path() / "program";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(testing::testProgramDirectory() / IQFEEDER_PROGRAM_FROM_TESTS,
                                   folder / "iqfeeder.exe");
        std::filesystem::copy_file(testing::testProgramDirectory() / "fake_ftd2xx" / "ftd2xx.dll",
                                   folder / "ftd2xx.dll");
        program_ = (folder / "iqfeeder.exe").string();
#else
        program_ = IQFEEDER_PROGRAM;
        environment_["LD_LIBRARY_PATH"] = FAKE_FTD2XX_DIR;
#endif
        testing::writeFile(input_, patternBytes(1000));
    }

    TempDir dir_;
    std::string input_ = dir_.file("recording.iq");
    std::string log_ = dir_.file("calls.log");
    std::string program_;
    std::map<std::string, std::string> environment_{{"FAKE_FTD2XX_LOG", log_},
                                                    {"FAKE_FTD2XX_DEVICES", "3"}};
};

class CommandLineTest : public ProgramTest,
                        public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, EndsAsTheOptionsSayAndTouchesTheDriverOnlyToRun) {
    const CommandLineCase& c = GetParam();
    std::vector<std::string> argv{program_};
    for (const std::string& arg : c.args) {
        argv.push_back(arg == "FILE" ? input_ : arg);
    }
    auto environment = environment_;
    for (const auto& [name, value] : c.environment) {
        environment[name] = value;
    }

    const auto result = testing::runChild(argv, environment);

    EXPECT_EQ(result.exitStatus, c.exitStatus);
    const bool onError =
        c.shows.starts_with("iqfeeder:") || c.shows.starts_with("Usage: iqfeeder FILE");
#ifdef _WIN32
    const std::string shows = testing::windowsText(c.shows + "\n");
#else
    const std::string shows = c.shows + "\n";
#endif
    EXPECT_NE((onError ? result.err : result.out).find(shows), std::string::npos)
        << "stdout:\n"
        << result.out << "\nstderr:\n"
        << result.err;
    if (!onError) {
        EXPECT_EQ(result.err, "");
    }
    const auto calls = readFile(log_);
    EXPECT_EQ(std::string(calls.begin(), calls.end()), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"Help", {"--help"}, {}, 0, "Usage: iqfeeder [OPTIONS] FILE", ""},
        CommandLineCase{"Version", {"--version"}, {}, 0, "iqfeeder " IQFEEDER_VERSION, ""},
        CommandLineCase{"List",
                        {"--list"},
                        {},
                        0,
                        "2: serial \"FAKE0002\", description \"Fake Transmitter 2\"",
                        "FT_ListDevices count\nFT_ListDevices all\nFT_ListDevices serial 0\n"
                        "FT_ListDevices serial 1\nFT_ListDevices serial 2\n"},
        CommandLineCase{"ListWithoutDevices",
                        {"-l"},
                        {{"FAKE_FTD2XX_DEVICES", "0"}},
                        1,
                        "Failed to find any FTDI devices.....!\nPlease exit.............",
                        "FT_ListDevices count\n"},
        CommandLineCase{"DeviceByIndex",
                        {"-d", "2", "FILE"},
                        {},
                        0,
                        "1: Fake Transmitter 1\n\nUsing device 2: Fake Transmitter 2",
                        "FT_ListDevices count\nFT_ListDevices all\nFT_Open 2\nFT_Close\n"},
        CommandLineCase{"DeviceBySerial",
                        {"--serial=FAKE0001", "FILE"},
                        {},
                        0,
                        "Using device 1: Fake Transmitter 1",
                        "FT_ListDevices count\nFT_ListDevices all\nFT_ListDevices count\n"
                        "FT_ListDevices all\nFT_ListDevices serial 0\nFT_ListDevices serial 1\n"
                        "FT_ListDevices serial 2\nFT_Open 1\nFT_Close\n"},
        CommandLineCase{"AbsentSerial",
                        {"-s", "NOPE", "FILE"},
                        {{"FAKE_FTD2XX_DEVICES", "2"}},
                        0,
                        "iqfeeder: no attached device has the serial number \"NOPE\"; attached: "
                        "\"FAKE0000\", \"FAKE0001\"",
                        "FT_ListDevices count\nFT_ListDevices all\nFT_ListDevices count\n"
                        "FT_ListDevices all\nFT_ListDevices serial 0\nFT_ListDevices serial 1\n"},
        CommandLineCase{"NoDriver",
                        {"--driver=none", "FILE"},
                        {},
                        0,
                        "Failed to find any FTDI devices.....!\nPlease exit.............\n"
                        "Can't open FTDI Device.",
                        ""},
        CommandLineCase{"NothingGiven", {}, {}, 2, "Usage: iqfeeder FILE", ""},
        CommandLineCase{
            "UnknownOption", {"--bogus", "FILE"}, {}, 2, "iqfeeder: unknown option '--bogus'", ""},
        // A metrics file that can't be written is refused before any driver is loaded; an
        // empty one is none (a service's variable left unset).
        CommandLineCase{"MetricsFileIsADirectory",
                        {"--metrics=.", "FILE"},
                        {},
                        2,
                        "iqfeeder: --metrics: . is a directory",
                        ""},
        CommandLineCase{"MetricsFileIsADevice",
                        {"-M", kDeviceNode, "FILE"},
                        {},
                        2,
                        "iqfeeder: --metrics: " + kDeviceNode + " is not a regular file",
                        ""},
        CommandLineCase{
            "MetricsEmptyWritesNone", {"--metrics=", "FILE"}, {}, 0, "File sent.", kRunCalls}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// The system's reasons, in its own words.
INSTANTIATE_TEST_SUITE_P(
    MetricsFolders, CommandLineTest,
    ::testing::Values(CommandLineCase{"Missing",
                                      {"--metrics=/nonexistent-folder/iqfeeder.prom", "FILE"},
                                      {},
                                      2,
                                      "iqfeeder: --metrics: can't write "
                                      "/nonexistent-folder/iqfeeder.prom.tmp: No such file or "
                                      "directory",
                                      ""},
                      CommandLineCase{"FolderIsAFile",
                                      {"--metrics=/dev/null/iqfeeder.prom", "FILE"},
                                      {},
                                      2,
                                      "iqfeeder: --metrics: can't write "
                                      "/dev/null/iqfeeder.prom.tmp: Not a directory",
                                      ""}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

#ifndef _WIN32
// Standard output on a full disk: an action whose output is all it does fails, and says why
// without speaking of a transmission.
TEST_F(ProgramTest, InformationThatCannotBeShownFailsWithTheReason) {
    for (const char* action : {"--help", "--version", "--list"}) {
        testing::ChildOptions options;
        options.stdoutFile = "/dev/full";
        const auto result = testing::runChild({program_, action}, environment_, options);
        EXPECT_EQ(result.exitStatus, 1) << action;
        EXPECT_EQ(result.err, "iqfeeder: standard output: No space left on device\n") << action;
    }
}
#endif

struct StopCase {
    const char* name;
    int signal;  // on Windows, Ctrl-Break whatever this says
    std::uint32_t stopAfterMs;
};
void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.name;
}

class StopTest : public ProgramTest, public ::testing::WithParamInterface<StopCase> {};

// Stopped as a service manager stops it (SIGTERM; Ctrl-Break on Windows), or as a closed ssh
// session does (SIGHUP), while the device takes 64000 bytes a second: the slice on its way
// finishes, the device is closed, the summary names what the device took, and the program ends
// as the signal would have ended it. Stopped in the 2 s probe, it ends then, having sent nothing.
TEST_P(StopTest, ClosesTheDeviceSaysWhatWasSentAndEndsAsTheSignalWould) {
    const StopCase& c = GetParam();
    const bool inTheProbe = c.stopAfterMs < 2000;
    // Under a wrapper (memcheck) the program may not have reached the probe by then.
    if (inTheProbe && std::getenv("IQFEEDER_TEST_WRAPPER") != nullptr) {
        GTEST_SKIP() << "a wrapped program's start takes longer than the probe's first second";
    }
    testing::writeFile(input_, patternBytes(200000));
    const std::string capture = dir_.file("device.bin");
    auto environment = environment_;
    environment["FAKE_FTD2XX_CAPTURE"] = capture;
    environment["FAKE_FTD2XX_BYTES_PER_SECOND"] = "64000";
    testing::ChildOptions options;
    options.stopAfterMs = c.stopAfterMs;
    options.stopSignal = c.signal;

    const auto started = std::chrono::steady_clock::now();
    const auto result = testing::runChild({program_, input_}, environment, options);
    const auto took = std::chrono::steady_clock::now() - started;
    if (!result.stopSent) {
        // wine delivers no console event from one process to another.
        GTEST_SKIP() << "this console cannot deliver Ctrl-Break to the program";
    }

#ifdef _WIN32
    EXPECT_EQ(static_cast<unsigned>(result.exitStatus), 0xC000013AU);
    const auto asPrinted = [](const std::string& text) { return testing::windowsText(text); };
#else
    EXPECT_EQ(result.signal, c.signal);
    const auto asPrinted = [](const std::string& text) { return text; };
#endif
    const auto calls = readFile(log_);
    EXPECT_EQ(std::string(calls.begin(), calls.end()), kRunCalls);
    const std::size_t sent = readFile(capture).size();
    if (inTheProbe) {
        EXPECT_EQ(sent, 0U);
        // The probe's sleep is real time, so this is too: a run that slept the whole probe out
        // would end no sooner than its 2 s after the start, whatever the machine's load; the
        // stop comes well before, so it has the rest of those 2 s to take effect.
        EXPECT_LT(took, std::chrono::milliseconds(2000));
    } else {
        EXPECT_GT(sent, 0U);
        EXPECT_LT(sent, 200000U);
    }
    EXPECT_EQ(sent % 6400, 0U);  // whole slices only
    EXPECT_TRUE(result.err.starts_with("iqfeeder: " + std::to_string(sent) +
                                       " bytes sent to the device in "))
        << result.err;
    // Standard output is the run's own lines up to the stop, nothing more.
    std::string whole =
        "\nDevices connected:\n0: Fake Transmitter 0\n1: Fake Transmitter 1\n\n"
        "Input file is " +
        input_ +
        "\nSending IQ data to FTDI USB device.....\n\n"
        "Checking if it's a recorded file or live stream.....\n";
    for (int kb = 0; kb <= 192; kb += 32) {
        whole += "Using pre-recorded file, Sent " + std::to_string(kb) + " of 200KB\r";
    }
    EXPECT_TRUE(asPrinted(whole).starts_with(result.out)) << result.out;
    EXPECT_TRUE(result.out.ends_with(inTheProbe ? asPrinted("stream.....\n") : "KB\r"))
        << result.out;
}

const std::vector<StopCase> kStopCases{
    // The probe's 2 s, then two buffers or so.
    {"Terminate", SIGTERM, 3200},
#ifndef _WIN32
    {"HangUp", SIGHUP, 3200},
    // Early in the probe's sleep, which must end with the stop.
    {"TerminateInTheProbe", SIGTERM, 700},
#endif
};

INSTANTIATE_TEST_SUITE_P(Signals, StopTest, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// Started as nohup starts it: the hang-up stays ignored, and the run goes on to its end.
TEST_F(ProgramTest, HangUpIgnoredAtTheStartStaysIgnored) {
    testing::ChildOptions options;
    options.stopAfterMs = 1000;  // in the probe
    options.stopSignal = SIGHUP;
    options.stopSignalIgnored = true;
    const auto result = testing::runChild({program_, input_}, environment_, options);
    EXPECT_TRUE(result.stopSent);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(result.out.ends_with("File sent.\n")) << result.out;
    EXPECT_EQ(result.err, "");
    const auto calls = readFile(log_);
    EXPECT_EQ(std::string(calls.begin(), calls.end()), kRunCalls);
}
#endif

}  // namespace
}  // namespace iqfeeder
