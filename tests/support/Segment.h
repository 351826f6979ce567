// What a scenario expects the device to have taken, stretch by stretch: file bytes from an
// offset of the pattern file, or filler zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/TempDir.h"

namespace iqfeeder::testing {

struct Segment {
    std::size_t offset;
    std::size_t length;
    bool zeros;
};

inline Segment fileBytes(std::size_t from, std::size_t to) {
    return {from, to - from, false};
}

inline Segment zeros(std::size_t length) {
    return {0, length, true};
}

inline void appendSegment(std::vector<std::uint8_t>& bytes, const Segment& segment) {
    if (segment.zeros) {
        bytes.insert(bytes.end(), segment.length, 0);
        return;
    }
    const auto pattern = patternBytes(segment.length, segment.offset);
    bytes.insert(bytes.end(), pattern.begin(), pattern.end());
}

inline std::vector<std::uint8_t> bytesOf(const std::vector<Segment>& segments) {
    std::vector<std::uint8_t> bytes;
    for (const Segment& segment : segments) {
        appendSegment(bytes, segment);
    }
    return bytes;
}

}  // namespace iqfeeder::testing
