// The few operating-system services the entry needs, one small file per platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace iqfeeder {

bool standardOutputIsTerminal();
void sleepMilliseconds(std::uint32_t milliseconds);

// The command line, each argument in the program's own text: the bytes as given on POSIX, UTF-8
// made from the UTF-16 command line on Windows (whose char** holds only the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// While it lives, standard output and error show the program's UTF-8 text as it is meant on a
// console (Windows writes a console in UTF-16); redirected, they get the UTF-8 bytes. Elsewhere
// it does nothing.
class UnicodeConsole {
  public:
    UnicodeConsole();
    ~UnicodeConsole();
    UnicodeConsole(const UnicodeConsole&) = delete;
    UnicodeConsole& operator=(const UnicodeConsole&) = delete;

  private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

}  // namespace iqfeeder
