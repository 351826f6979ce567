#include "stream/PipeKind.h"

#include <cstring>

#include "common/ConsoleLines.h"
#include "stream/RunState.h"

namespace iqfeeder {

PipeKind::PipeKind(const InputSeams& seams, std::string path)
    : seams_(seams),
      path_(std::move(path)),
      errors_(seams.console, seams.diagnostics, path_),
      hooks_{seams.stopping, seams.idle},
      buffer_(kInitialBufferSize) {}

Pass PipeKind::next(std::span<std::uint8_t> room) {
    if (endedBy_) {
        return finish();
    }
    if (!opened_) {
        if (!input_.open(path_)) {
            errors_.cannotOpen(input_.errorText());
            return Pass{Pass::Outcome::Refused};
        }
        opened_ = true;
        if (path_ != "-") {
            seams_.console.print(lines::kWaitingForWriter, path_.c_str());
        }
    }
    std::uint8_t* const data = room.size() >= buffer_.size() ? room.data() : buffer_.data();
    std::size_t delivered = 0;
    const StreamReader::ReadStatus status = input_.read(data, buffer_.size(), delivered, hooks_);
    if (status == StreamReader::ReadStatus::Stopped) {
        return Pass{Pass::Outcome::Stopped};
    }
    if (status != StreamReader::ReadStatus::Full) {
        endedBy_ = status;
    }
    if (delivered == 0) {
        return next(room);
    }
    total_ += static_cast<std::int64_t>(delivered);
    seams_.console.print(lines::kStreamProgress, static_cast<long long>(total_ / 1000));
    std::memset(data + delivered, 0, buffer_.size() - delivered);
    Pass pass{Pass::Outcome::Send};
    pass.data = data;
    pass.size = static_cast<std::uint32_t>(buffer_.size());
    pass.delivered = static_cast<std::uint32_t>(delivered);
    return pass;
}

Pass PipeKind::finish() {
    if (endedBy_ == StreamReader::ReadStatus::Ended) {
        seams_.console.print(lines::kStreamEnded, static_cast<long long>(total_));
        return Pass{Pass::Outcome::Ended};
    }
    errors_.cannotRead(input_.errorText());
    return Pass{Pass::Outcome::Refused};
}

}  // namespace iqfeeder
