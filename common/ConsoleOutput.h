// Standard output as the console writes it: straight to the descriptor, a message at a time on
// a terminal and in blocks otherwise. The console must never stop the transmission: a write
// that fails (the reader of a pipe gone, a full disk, an I/O error) is reported once, and the
// console text is dropped from then on while the run goes on.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <streambuf>
#include <string>

namespace iqfeeder {

class ConsoleOutput : public std::streambuf {
  public:
    // `onFailure` gets the system's reason ("Broken pipe") the first time a write fails.
    ConsoleOutput(int fd, bool blockBuffered, std::function<void(const std::string&)> onFailure)
        : fd_(fd), blockBuffered_(blockBuffered), onFailure_(std::move(onFailure)) {}
    ~ConsoleOutput() override { flush(); }
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    void flush();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    void writeOut(const char* data, std::size_t size);

    int fd_;
    bool blockBuffered_;
    std::function<void(const std::string&)> onFailure_;
    bool failed_ = false;
    std::array<char, 8192> block_{};
    std::size_t used_ = 0;
};

}  // namespace iqfeeder
