// A network input as one more input kind: read as a stream is, a whole buffer a pass, but a
// sender's end is not the input's. Its last, partly filled buffer goes out padded with zeros and
// the next sender is taken, with the device kept open, until the run is stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream/InputErrors.h"
#include "stream/InputKind.h"
#include "stream/NetworkReader.h"

namespace iqfeeder {

class NetworkKind final : public InputKind {
  public:
    NetworkKind(const InputSeams& seams, std::unique_ptr<NetworkReader> reader,
                const std::string& text);

    bool prepare() override;
    Pass next(std::span<std::uint8_t> room) override;
    // Not read while the device is gone: a TCP sender waits on the full socket.
    bool waitsForDevice() const override { return true; }

  private:
    // One pass into `room`, which stays valid until the next pass.
    Pass fill(std::uint8_t* room, std::uint32_t size);

    InputSeams seams_;
    InputErrors errors_;
    std::unique_ptr<NetworkReader> input_;
    NetworkReader::WaitHooks hooks_;
    bool opened_ = false;
    std::vector<std::uint8_t> buffer_;  // the room each pass fills
    std::int64_t total_ = 0;
};

}  // namespace iqfeeder
