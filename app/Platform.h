// The few operating-system services the entry needs, one small file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace iqfeeder {

// Before anything else: standard input, output and error that were closed are opened on the
// null device, so no file opened later (the driver's own log, say) can take their place; and a
// console reader that goes away (SIGPIPE) can't end the run.
void prepareStandardStreams();
bool standardOutputIsTerminal();
// Standard output and standard error are the same terminal screen.
bool standardStreamsShareATerminal();
// The width of the terminal standard output shows on; 0 when it is not one or can't tell.
std::size_t standardOutputColumns();

// The command line, each argument in the program's own text: the bytes as given on POSIX, UTF-8
// made from the UTF-16 command line on Windows (whose char** holds only the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// While it lives, std::cout and std::cerr show the program's UTF-8 text as it is meant on a
// console (Windows writes a console in UTF-16); redirected, they get the UTF-8 bytes. Elsewhere
// it does nothing.
class UnicodeConsole {
  public:
    UnicodeConsole();
    ~UnicodeConsole();
    UnicodeConsole(const UnicodeConsole&) = delete;
    UnicodeConsole& operator=(const UnicodeConsole&) = delete;

    // std::cout goes to a console through it: the console lines are to be written there.
    bool routesStandardOutput() const;

  private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

}  // namespace iqfeeder
