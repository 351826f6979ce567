// A finished recording, sent once from its first byte to its end, or repeated end to end with
// no gap. A repeated file that fits in a buffer is read once and held: the buffers are filled
// from memory, so even a file of a byte costs next to nothing per pass.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stream/FileSource.h"
#include "stream/InputKind.h"

namespace iqfeeder {

class RecordingKind final : public InputKind {
  public:
    // `repeat`: how many times in all (0: until stopped); none: once, as a plain run.
    RecordingKind(FileSource source, std::optional<std::uint64_t> repeat)
        : source_(std::move(source)),
          repeatCount_(repeat.value_or(1)),
          repeating_(repeat.has_value()) {
        source_.state.isRecorded = true;
    }

    Pass next(std::span<std::uint8_t> room) override;
    // Nothing of a recording is skipped: it waits where it is.
    bool waitsForDevice() const override { return true; }

  private:
    Pass repeatPass(InputFile& file);
    void printRepeatLine() const;
    // Reads a file short enough for a buffer into memory; false (after saying so) on failure.
    bool hold(InputFile& file);
    Pass fillFromFile(InputFile& file);
    Pass fillFromMemory();
    Pass sendFilled(std::uint8_t* data, std::size_t delivered);

    FileSource source_;
    std::uint64_t repeatCount_;
    bool repeating_;
    std::uint64_t repetition_ = 1;  // the one being sent, from 1
    bool repeatsDone_ = false;
    // The held file, written out again and again: long enough that a buffer starting anywhere
    // in its first copy is one block.
    std::vector<std::uint8_t> held_;
    std::int64_t heldLength_ = 0;
};

}  // namespace iqfeeder
