// What a recording and a live file share, pass by pass: the file's state, its limits, the
// opening and reading of a pass with their failure lines, and the pass buffer. Handed on whole
// when a live file turns out recorded.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stream/InputErrors.h"
#include "stream/InputFile.h"
#include "stream/InputKind.h"
#include "stream/RunState.h"

namespace iqfeeder {

struct FileSource {
    FileSource(const InputSeams& inputSeams, const std::string& path, const FileLimits& fileLimits)
        : seams(inputSeams),
          limits(fileLimits),
          errors(inputSeams.console, inputSeams.diagnostics, path) {
        state.inputPath = path;
    }

    // Opens the file for a pass; otherwise what the pass comes to: refused before anything was
    // sent, tried again after a pause once streaming (a producer replacing its file). With
    // `waitWhenMissing`, a file that can't be opened is always tried again, and only the reason
    // is said: the caller says the wait.
    std::optional<Pass::Outcome> open(InputFile& file, bool waitWhenMissing = false);
    // The file's length, held within the limit.
    std::int64_t measure(InputFile& file) const;
    bool stopping() const { return seams.stopping && seams.stopping(); }
    // At the loop's test: the cap ends the run, and says so when the file held more.
    std::optional<Pass> capReached(bool moreToSend) const;

    // Reads `size` bytes at the file's offset into the pass buffer, zeros after the file's end,
    // and closes the file. A read that fails is said and sends nothing: the pass is tried again.
    Pass readAndSend(InputFile& file, std::uint32_t size);
    // The pass buffer: the run's room when it fits, else one of the source's own.
    std::uint8_t* buffer(std::uint32_t size);

    InputSeams seams;
    RunState state;
    FileLimits limits;
    InputErrors errors;
    bool anythingSent = false;
    std::span<std::uint8_t> room;  // this pass's

  private:
    std::vector<std::uint8_t> buffer_;
};

}  // namespace iqfeeder
