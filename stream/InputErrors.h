// The input's failure lines: the fixed line on the console at every failure, and the system's
// reason on standard error when it is a new one, not at every retry.
#pragma once

#include <string>

#include "common/Console.h"

namespace iqfeeder {

class InputErrors {
  public:
    InputErrors(Console& console, Console& diagnostics, std::string path)
        : console_(console), diagnostics_(diagnostics), path_(std::move(path)) {}

    void cannotOpen(const std::string& why);
    void cannotRead(const std::string& why);
    void notRegularFile();
    // The reason alone, for a failure the caller says in its own way.
    void reason(const std::string& why);

  private:
    Console& console_;
    Console& diagnostics_;
    std::string path_;
    std::string lastReason_;
};

}  // namespace iqfeeder
