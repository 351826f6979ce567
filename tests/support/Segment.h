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

// Whether `sent` is a recording of `length` pattern bytes sent to its end with one rewind: from
// the start up to some slice, then again from no later than there to the end, padded with fewer
// than `buffer` zeros. So nothing of it was skipped, and nothing else sent.
inline bool sentWithOneRewind(const std::vector<std::uint8_t>& sent, std::size_t length,
                              std::size_t slice, std::size_t buffer) {
    std::size_t split = 0;
    while (split < sent.size() && split < length && sent[split] == patternByteAt(split)) {
        ++split;
    }
    split -= split % slice;  // the slices that went whole before the loss
    for (std::size_t back = 0; back <= split; back += slice) {
        const std::size_t resume = split - back;
        const std::size_t data = length - resume;
        if (sent.size() < split + data || sent.size() - split - data >= buffer) {
            continue;
        }
        bool matches = true;
        for (std::size_t i = split; matches && i < sent.size(); ++i) {
            const std::size_t at = resume + (i - split);
            matches = sent[i] == (at < length ? patternByteAt(at) : std::uint8_t{0});
        }
        if (matches) {
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
