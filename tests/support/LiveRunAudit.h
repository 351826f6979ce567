// Checks the record of a real live run against the position rules: what the console showed
// after the probe line, and every byte the device took. The input must be pattern bytes
// (patternByteAt of each offset) that are only ever appended to, as FileProducer writes them.
// Lengths are known only as the status line shows them (kilobytes, and the delay's 128-byte
// steps), so the audit finds each position the rules choose among the few the line allows, and
// checks the bytes sent against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace iqfeeder::testing {

struct LiveRunAudit {
    std::size_t passes = 0;  // passes whose status line was printed and whose bytes were checked
    std::size_t overtakings = 0;
    std::size_t raises = 0;
    std::size_t jumps = 0;
    std::size_t shortReads = 0;      // buffers filled up with zeros after the end of the file
    std::uint64_t bytesDropped = 0;  // skipped by the jumps
    std::vector<std::string> problems;
};

// `passText` is the console output from just after the first probe line; `deviceBytes` all the
// device took. A run stopped in its last pass may end anywhere in it.
LiveRunAudit auditLiveRun(std::string_view passText, const std::vector<std::uint8_t>& deviceBytes);

}  // namespace iqfeeder::testing
