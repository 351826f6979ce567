// The --name=value options of the bench programs.
#pragma once

#include <cstring>
#include <string>

namespace iqfeeder::bench {

// The value of --name=value on the command line, or the fallback when it is not given.
inline std::string optionValue(int argc, char** argv, const std::string& name,
                               const std::string& fallback) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return argv[i] + prefix.size();
        }
    }
    return fallback;
}

}  // namespace iqfeeder::bench
