// Runs a program on a pseudo-terminal, as an operator runs it in a terminal window: the program
// finds a terminal on its standard output (so every line reaches the reader as it is printed),
// and Ctrl-C typed into the terminal interrupts it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace iqfeeder::testing {

class PtyChild {
  public:
    // With `stderrPath`, standard error goes to that file instead of the terminal.
    PtyChild(const std::vector<std::string>& argv,
             const std::map<std::string, std::string>& extraEnvironment,
             const std::string& stderrPath = {});
    // Kills a child still running and reaps it.
    ~PtyChild();
    PtyChild(const PtyChild&) = delete;
    PtyChild& operator=(const PtyChild&) = delete;

    // Reads what the program prints until `done(output())` holds, the program closes its
    // terminal, or the timeout passes; returns whether `done` held. Keep reading during a long
    // run: a program whose terminal is not read blocks once the terminal's buffer is full.
    bool readUntil(const std::function<bool(const std::string&)>& done,
                   std::chrono::milliseconds timeout);
    // Reads for a while, whatever comes.
    void readFor(std::chrono::milliseconds duration);
    // Types Ctrl-C into the terminal: the terminal sends SIGINT to the program.
    void interrupt();
    // Reads the rest of the output and reaps the program; returns its wait status, or -1 if it
    // is still running when the timeout passes.
    int waitForEnd(std::chrono::milliseconds timeout);

    const std::string& output() const { return output_; }
    pid_t pid() const { return pid_; }

  private:
    enum class Pumped { Data, Nothing, Closed };
    // Reads what arrives within `timeoutMs`.
    Pumped pump(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    bool terminalClosed_ = false;
    std::string output_;
};

// How many times `text` holds `part`.
std::size_t countOf(const std::string& text, const std::string& part);

// The lines an operator's terminal shows after `bytes` (a carriage return goes back to the
// start of the line, a new line also starts the next one), without trailing blanks.
std::vector<std::string> screenLines(const std::string& bytes);
// `bytes` without the blanks a terminal console pads lines with before "\r" and "\n".
std::string withoutPadding(const std::string& bytes);

}  // namespace iqfeeder::testing
