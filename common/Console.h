// The program's one console stream. Every message is a fixed printf-style text, written with a
// single stream insertion so that a line is never split between two writes.
#pragma once

#include <ostream>

namespace iqfeeder {

class Console {
  public:
    explicit Console(std::ostream& out) : out_(out) {}

    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    std::ostream& out_;
};

}  // namespace iqfeeder
