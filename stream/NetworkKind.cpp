#include "stream/NetworkKind.h"

#include <cstring>

#include "common/ConsoleLines.h"
#include "stream/RunState.h"

namespace iqfeeder {

NetworkKind::NetworkKind(const InputSeams& seams, std::unique_ptr<NetworkReader> reader,
                         const std::string& text)
    : seams_(seams),
      errors_(seams.console, seams.diagnostics, text),
      input_(std::move(reader)),
      buffer_(kInitialBufferSize) {
    // Every wait hands on the figures as they stand, so the rates and the service's status go on
    // while nothing comes.
    hooks_ = {seams_.stopping, [this] {
                  if (seams_.network) {
                      seams_.network(input_->figures());
                  } else if (seams_.idle) {
                      seams_.idle();
                  }
              }};
}

bool NetworkKind::prepare() {
    opened_ = opened_ || input_->open();
    return opened_;
}

Pass NetworkKind::next(std::span<std::uint8_t> room) {
    if (!prepare()) {
        return Pass{Pass::Outcome::Refused};
    }
    const auto size = static_cast<std::uint32_t>(buffer_.size());
    return fill(room.size() >= size ? room.data() : buffer_.data(), size);
}

Pass NetworkKind::fill(std::uint8_t* room, std::uint32_t size) {
    std::size_t delivered = 0;
    const NetworkReader::ReadStatus status = input_->read(room, size, delivered, hooks_);
    if (status == NetworkReader::ReadStatus::Stopped) {
        return Pass{Pass::Outcome::Stopped};
    }
    if (status == NetworkReader::ReadStatus::Failed) {
        errors_.cannotRead(input_->errorText());
        return Pass{Pass::Outcome::Refused};
    }
    if (delivered == 0) {
        // A sender that ended with nothing left for this buffer.
        hooks_.idle();
        return Pass{Pass::Outcome::Skip};
    }
    total_ += static_cast<std::int64_t>(delivered);
    seams_.console.print(lines::kNetworkProgress, static_cast<long long>(total_ / 1000));
    // The sender's end follows its last progress line, as a stream's end does.
    input_->sayEnding();
    std::memset(room + delivered, 0, size - delivered);
    Pass pass{Pass::Outcome::Send};
    pass.network = input_->figures();
    pass.data = room;
    pass.size = size;
    pass.delivered = static_cast<std::uint32_t>(delivered);
    return pass;
}

}  // namespace iqfeeder
