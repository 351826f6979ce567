// The program's console streams. Every message is a fixed printf-style text, written with a
// single stream insertion so that a line is never split between two writes. On a terminal, a
// line written over a carriage-return line (the progress and status lines) is padded with
// spaces to cover it, so nothing of the longer old line is left on screen, and a carriage-return
// line is cut to the terminal's width, as a line that wrapped could not be overwritten in place;
// elsewhere the text goes out exactly as formatted.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace iqfeeder {

class Console {
  public:
    explicit Console(std::ostream& out, bool onTerminal = false)
        : out_(out), onTerminal_(onTerminal) {}
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // This console and `other` write to one terminal screen (standard output and standard
    // error): a line of one starts below a carriage-return line the other left there.
    void shareScreenWith(Console& other);

    // The terminal's width in columns, asked at every message (it may change); 0: not known.
    void setColumns(std::function<std::size_t()> columns) { columns_ = std::move(columns); }

  private:
    void write(const char* text, std::size_t length);
    void writeOnTerminal(const char* text, std::size_t length);

    std::ostream& out_;
    bool onTerminal_;
    std::size_t carriageLine_ = 0;  // length of the line a "\r" left on screen, 0 after "\n"
    Console* screenPartner_ = nullptr;
    std::function<std::size_t()> columns_;
    std::string padded_;  // reused, so a padded message costs no allocation once warmed up
};

}  // namespace iqfeeder
