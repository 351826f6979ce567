// Runs a program as a child process with extra environment variables and collects what it
// wrote and how it ended.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace iqfeeder::testing {

struct ChildResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

ChildResult runChild(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnvironment);

}  // namespace iqfeeder::testing
