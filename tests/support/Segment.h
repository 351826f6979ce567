// What a scenario expects the device to have taken, stretch by stretch: file bytes from an
// offset of the pattern file, or filler zeros.
#pragma once

#include <algorithm>
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

// Whether `sent` is `expected` sent to its end with at most one rewind at a slice boundary, of
// at most `mostSlicesAgain` slices: so nothing of it was skipped, and nothing else sent.
inline bool sentWithOneRewind(const std::vector<std::uint8_t>& sent,
                              const std::vector<std::uint8_t>& expected, std::size_t slice,
                              std::size_t mostSlicesAgain = SIZE_MAX) {
    if (sent == expected) {
        return true;
    }
    if (sent.size() <= expected.size() || (sent.size() - expected.size()) % slice != 0 ||
        (sent.size() - expected.size()) / slice > mostSlicesAgain) {
        return false;
    }
    const std::size_t again = sent.size() - expected.size();
    for (std::size_t split = again; split <= expected.size(); split += slice) {
        const auto resumed = sent.begin() + static_cast<std::ptrdiff_t>(split);
        if (std::equal(sent.begin(), resumed, expected.begin()) &&
            std::equal(resumed, sent.end(),
                       expected.begin() + static_cast<std::ptrdiff_t>(split - again))) {
            return true;
        }
    }
    return false;
}

inline std::vector<std::uint8_t> bytesOf(const std::vector<Segment>& segments) {
    std::vector<std::uint8_t> bytes;
    for (const Segment& segment : segments) {
        appendSegment(bytes, segment);
    }
    return bytes;
}

}  // namespace iqfeeder::testing
