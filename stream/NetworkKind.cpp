#include "stream/NetworkKind.h"

#include <cstring>

#include "stream/RunState.h"

namespace iqfeeder {

NetworkKind::NetworkKind(const InputSeams& seams, NetworkOperand operand, const std::string& text)
    : seams_(seams),
      errors_(seams.console, seams.diagnostics, text),
      input_(std::move(operand), text, seams.console, seams.diagnostics),
      buffer_(kInitialBufferSize) {
    // Every wait hands on the figures as they stand, so the rates and the service's status go on
    // while nothing comes.
    hooks_ = {seams_.stopping, [this] {
                  if (seams_.network) {
                      seams_.network(input_.figures());
                  } else if (seams_.idle) {
                      seams_.idle();
                  }
              }};
}

Pass NetworkKind::next(std::span<std::uint8_t> room) {
    if (!opened_) {
        if (!input_.open()) {
            return Pass{Pass::Outcome::Refused};
        }
        opened_ = true;
    }
    std::uint8_t* const data = room.size() >= buffer_.size() ? room.data() : buffer_.data();
    std::size_t delivered = 0;
    const NetworkInput::ReadStatus status = input_.read(data, buffer_.size(), delivered, hooks_);
    if (status == NetworkInput::ReadStatus::Stopped) {
        return Pass{Pass::Outcome::Stopped};
    }
    if (status == NetworkInput::ReadStatus::Failed) {
        errors_.cannotRead(input_.errorText());
        return Pass{Pass::Outcome::Refused};
    }
    if (delivered == 0) {
        // A sender that ended with nothing left for this buffer.
        hooks_.idle();
        return Pass{Pass::Outcome::Skip};
    }
    total_ += static_cast<std::int64_t>(delivered);
    seams_.console.print("Using network input, Read %lldKB\r",
                         static_cast<long long>(total_ / 1000));
    // The sender's end follows its last progress line, as a stream's end does.
    input_.sayEnding();
    std::memset(data + delivered, 0, buffer_.size() - delivered);
    Pass pass{Pass::Outcome::Send};
    pass.network = input_.figures();
    pass.data = data;
    pass.size = static_cast<std::uint32_t>(buffer_.size());
    pass.delivered = static_cast<std::uint32_t>(delivered);
    return pass;
}

}  // namespace iqfeeder
