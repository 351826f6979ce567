// A file another program appends to, followed from just behind its growing end. A pass that
// begins at position 0 first probes: a file that does not grow in 2 s is a recording, and the
// run goes on with that kind instead. Without the probe (--live) the file is live whatever it
// does, and is waited on until it grows (see LiveStart.h).
#pragma once

#include <cstdint>
#include <optional>

#include "stream/FileSource.h"
#include "stream/InputKind.h"
#include "stream/LiveStart.h"

namespace iqfeeder {

inline constexpr std::uint32_t kProbeWaitMs = 2000;

struct LiveFileOptions {
    // Off: the file is live whatever it does, and never taken for a recording.
    bool probe = true;
    // For a file the probe finds recorded: send it this many times (0: until stopped).
    std::optional<std::uint64_t> repeat;
};

class LiveFileKind final : public InputKind {
  public:
    LiveFileKind(FileSource source, const LiveFileOptions& options)
        : source_(std::move(source)), options_(options) {}

    Pass next(std::span<std::uint8_t> room) override;
    // Followed on without the device, so it comes back near the end of the file.
    bool waitsForDevice() const override { return false; }

  private:
    // Opens the file for a pass: with --live one that can't be opened is waited for.
    std::optional<Pass> open(InputFile& file);
    // With --live, where the pass starts; a pass to wait on the file otherwise.
    std::optional<Pass> startLive(InputFile& file);
    // The 2 s probe; the pass goes on when it returns nothing.
    std::optional<Pass> probe(InputFile& file);
    void startBehindTheEnd(InputFile& file);

    FileSource source_;
    LiveFileOptions options_;
    LiveWait wait_;
};

}  // namespace iqfeeder
