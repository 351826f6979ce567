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
    std::string file(const std::string& name) const { return (path_ / name).string(); }

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

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Appends the pattern bytes for offsets [current length, current length + count).
void appendPattern(const std::string& path, std::size_t count);
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace iqfeeder::testing
