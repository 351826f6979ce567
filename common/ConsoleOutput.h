// Standard output as the console writes it: straight to the descriptor, a message at a time,
// whatever it is. Nothing is held back, so a log file has every line printed before a run
// that hangs in a driver call and is then ended from outside. The console must never stop the
// transmission: a write that fails (the reader of a pipe gone, a full disk, an I/O error) is
// reported once, and the console text is dropped from then on while the run goes on.
#pragma once

#include <cstddef>
#include <functional>
#include <streambuf>
#include <string>

namespace iqfeeder {

class ConsoleOutput : public std::streambuf {
  public:
    // `onFailure` gets the system's reason ("Broken pipe") the first time a write fails.
    ConsoleOutput(int fd, std::function<void(const std::string&)> onFailure)
        : fd_(fd), onFailure_(std::move(onFailure)) {}
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

  private:
    void writeOut(const char* data, std::size_t size);

    int fd_;
    std::function<void(const std::string&)> onFailure_;
    bool failed_ = false;
};

}  // namespace iqfeeder
