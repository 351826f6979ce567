// Standard input, a FIFO or a Windows named pipe: read once from its start to its end, a whole
// buffer a pass, as the writer delivers it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stream/InputErrors.h"
#include "stream/InputKind.h"
#include "stream/StreamReader.h"

namespace iqfeeder {

class PipeKind final : public InputKind {
  public:
    PipeKind(const InputSeams& seams, std::string path);

    Pass next(std::span<std::uint8_t> room) override;
    // Not read while the device is gone: the writer waits on the full pipe, as for a slow
    // device.
    bool waitsForDevice() const override { return true; }

  private:
    // The line that follows the last buffer, at the pass after it.
    Pass finish();

    InputSeams seams_;
    std::string path_;
    InputErrors errors_;
    StreamReader input_;
    StreamReader::WaitHooks hooks_;
    bool opened_ = false;
    std::optional<StreamReader::ReadStatus> endedBy_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t total_ = 0;
};

}  // namespace iqfeeder
