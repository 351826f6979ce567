// A scratch folder removed with everything in it, and helpers for input files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace iqfeeder::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of a file in the folder, in UTF-8 as the program takes paths.
    std::string file(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// Bytes that differ at every offset of interest, so a byte from the wrong place shows.
std::vector<std::uint8_t> patternBytes(std::size_t size, std::size_t startOffset = 0);
// The pattern byte found at a file offset.
std::uint8_t patternByteAt(std::size_t offset);
// How many leading bytes are the pattern, each at its own offset: all of them for a file that a
// producer wrote nothing else into.
std::size_t patternPrefixLength(const std::vector<std::uint8_t>& bytes);

// Paths in the tests are UTF-8, as in the program. On Windows a plain narrow path would be read in
// the ANSI code page, which can't hold every name.
std::filesystem::path pathFromUtf8(const std::string& path);
std::string utf8Path(const std::filesystem::path& path);

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Appends the pattern bytes for offsets [current length, current length + count).
void appendPattern(const std::string& path, std::size_t count);
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace iqfeeder::testing
