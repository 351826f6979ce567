#include "tests/support/RunFixture.h"

#include <filesystem>

namespace iqfeeder::testing {

void resizeFile(const std::string& path, std::int64_t length) {
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(length));
}

}  // namespace iqfeeder::testing
