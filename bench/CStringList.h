// The char* arrays that posix_spawn takes for arguments and environment.
#pragma once

#include <string>
#include <vector>

namespace iqfeeder::bench {

// Pointers into `strings`, ended by a null pointer; valid while `strings` is unchanged.
inline std::vector<char*> nullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace iqfeeder::bench
