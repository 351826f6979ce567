#include "tests/support/TempDir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace iqfeeder::testing {

TempDir::TempDir() {
    // A fresh random name until one is free: portable where mkdtemp is not (Windows).
    const auto base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("iqfeeder-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("no free scratch folder name");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return utf8Path(path_ / pathFromUtf8(name));
}

std::filesystem::path pathFromUtf8(const std::string& path) {
#ifdef _WIN32
    // Past MAX_PATH only the \\?\ form of an absolute path, with backslashes, opens everywhere.
    const bool longAbsolute = path.size() >= 260 && path.size() > 2 && path[1] == ':';
    std::u8string utf8 = longAbsolute ? u8"\\\\?\\" : u8"";
    for (const char c : path) {
        utf8.push_back(longAbsolute && c == '/' ? u8'\\' : static_cast<char8_t>(c));
    }
    return {utf8};
#else
    return {path};
#endif
}

std::string utf8Path(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string utf8 = path.u8string();
    return {utf8.begin(), utf8.end()};
#else
    return path.string();
#endif
}

std::uint8_t patternByteAt(std::size_t offset) {
    // Never zero, so a filler zero can't pass for file data; period 251 (prime) so a shift by
    // any buffer or slice size changes the byte.
    return static_cast<std::uint8_t>(1 + (offset * 7 + offset / 251) % 251);
}

std::size_t patternPrefixLength(const std::vector<std::uint8_t>& bytes) {
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length] == patternByteAt(length)) {
        ++length;
    }
    return length;
}

std::vector<std::uint8_t> patternBytes(std::size_t size, std::size_t startOffset) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = patternByteAt(startOffset + i);
    }
    return bytes;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void appendPattern(const std::string& path, std::size_t count) {
    std::error_code error;
    const auto size = std::filesystem::file_size(pathFromUtf8(path), error);
    const std::size_t start = error ? 0 : static_cast<std::size_t>(size);
    const auto bytes = patternBytes(count, start);
    std::ofstream out(pathFromUtf8(path), std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(pathFromUtf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace iqfeeder::testing
