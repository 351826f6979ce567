#include "tests/support/LiveRunAudit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tests/support/TempDir.h"

namespace iqfeeder::testing {
namespace {

constexpr std::string_view kOvertaken = "\nInput stream bitrate not high enough\n";
constexpr std::string_view kRaised = "Increasing buffer to 64000Bytes\n";
constexpr std::string_view kJumped = "\nDelay too high, re-started buffer..\n";

struct PassLines {
    bool overtaken = false;
    bool raised = false;
    bool jumped = false;
    std::int64_t kilobytes = -1;
    std::int64_t milliseconds = -1;
};

bool parse(std::string_view chunk, PassLines& lines) {
    const auto take = [&chunk](std::string_view line) {
        const bool found = chunk.starts_with(line);
        if (found) {
            chunk.remove_prefix(line.size());
        }
        return found;
    };
    lines.overtaken = take(kOvertaken);
    lines.raised = lines.overtaken && take(kRaised);
    lines.jumped = take(kJumped);
    const std::string status(chunk);
    int kilobytes = -1;
    int milliseconds = -1;
    std::sscanf(status.c_str(), "Status: Size of pipe file is: %d KBytes, Delay: %dms", &kilobytes,
                &milliseconds);
    lines.kilobytes = kilobytes;
    lines.milliseconds = milliseconds;
    return status == "Status: Size of pipe file is: " + std::to_string(kilobytes) +
                         " KBytes, Delay: " + std::to_string(milliseconds) + "ms\r";
}

bool isPatternAt(const std::uint8_t* bytes, std::size_t count, std::int64_t offset) {
    if (offset < 0) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != patternByteAt(static_cast<std::size_t>(offset) + i)) {
            return false;
        }
    }
    return true;
}

}  // namespace

LiveRunAudit auditLiveRun(std::string_view passText, const std::vector<std::uint8_t>& deviceBytes) {
    LiveRunAudit audit;
    std::size_t sent = 0;    // device bytes accounted for
    std::int64_t next = -1;  // where the next pass reads unless a rule moves it
    std::int64_t bufferSize = 32000;
    for (std::size_t pass = 0; !passText.empty(); ++pass) {
        const std::size_t end = passText.find('\r');
        if (end == std::string_view::npos) {
            break;  // cut off by the interrupt
        }
        const std::string_view chunk = passText.substr(0, end + 1);
        passText.remove_prefix(end + 1);
        const auto problem = [&audit, pass](const std::string& what) {
            audit.problems.push_back("pass " + std::to_string(pass + 1) + ": " + what);
        };
        PassLines lines;
        if (!parse(chunk, lines) || (lines.overtaken && lines.jumped)) {
            problem("unexpected console text");
            break;
        }
        if (lines.raised) {
            if (audit.raises++ > 0) {
                problem("buffer raised again");
            }
            bufferSize = 64000;
        }
        if (sent == deviceBytes.size()) {
            break;  // interrupted before this pass's first write
        }
        const std::size_t span =
            std::min(static_cast<std::size_t>(bufferSize), deviceBytes.size() - sent);
        const std::uint8_t* bytes = deviceBytes.data() + sent;
        sent += span;
        // The file's length at this pass's measuring, as far as the status line tells it.
        const std::int64_t shortest = lines.kilobytes * 1000;
        const std::int64_t longest = shortest + 999;
        std::int64_t position = next;
        if (pass == 0 || lines.overtaken || lines.jumped) {
            // The newest bufferSize bytes (32000 behind the end after the probe, which comes
            // with a 32000-byte buffer too): find which, among the lengths the line allows.
            if (lines.milliseconds != bufferSize / 128) {
                problem("delay " + std::to_string(lines.milliseconds) + " ms after a move");
            }
            position = -1;
            for (std::int64_t at = shortest - bufferSize; at <= longest - bufferSize; ++at) {
                if (isPatternAt(bytes, span, at)) {
                    position = at;
                    break;
                }
            }
            if (position < 0) {
                problem("not the newest " + std::to_string(bufferSize) + " bytes of a " +
                        std::to_string(lines.kilobytes) + " KBytes file");
                break;
            }
            const std::int64_t length = position + bufferSize;
            if (lines.overtaken) {
                ++audit.overtakings;
                if (next <= length) {
                    problem("stepped back without having overtaken the end");
                }
            }
            if (lines.jumped) {
                ++audit.jumps;
                if (length - next <= 200000) {
                    problem("jumped with a backlog of " + std::to_string(length - next));
                }
                audit.bytesDropped += static_cast<std::uint64_t>(position - next);
            }
        } else {
            // Where the last pass left off: the file's bytes from there, then zeros where the
            // read met the end (which may lie past the length measured, the producer being quick).
            const void* zero = std::memchr(bytes, 0, span);
            const std::size_t read =
                zero == nullptr
                    ? span
                    : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes);
            const bool zerosAfter =
                read == span || std::memcmp(bytes + read, bytes + read + 1, span - read - 1) == 0;
            if (!isPatternAt(bytes, read, position) || !zerosAfter) {
                problem("not the file's bytes from " + std::to_string(position));
                break;
            }
            if (read < span) {
                ++audit.shortReads;
            }
            // A length the line allows, no shorter than the position and, after a short read,
            // no longer than where the read met the end.
            const std::int64_t fromDelay = position + 128 * lines.milliseconds;
            const std::int64_t low = std::max(shortest, fromDelay);
            std::int64_t high = std::min(longest, fromDelay + 127);
            if (read < span) {
                high = std::min<std::int64_t>(high, position + static_cast<std::int64_t>(read));
            }
            if (lines.milliseconds > 1562 || low > high) {
                problem("status line (" + std::to_string(lines.kilobytes) + " KBytes, " +
                        std::to_string(lines.milliseconds) + " ms) does not fit reading at " +
                        std::to_string(position));
            }
        }
        if (span == static_cast<std::size_t>(bufferSize)) {
            ++audit.passes;
        }
        next = position + bufferSize;
    }
    if (sent < deviceBytes.size()) {
        audit.problems.push_back("the device took " + std::to_string(deviceBytes.size() - sent) +
                                 " bytes more than the passes printed account for");
    }
    return audit;
}

}  // namespace iqfeeder::testing
