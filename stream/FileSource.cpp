#include "stream/FileSource.h"

#include <algorithm>
#include <cstring>

namespace iqfeeder {

std::optional<Pass::Outcome> FileSource::open(InputFile& file, bool waitWhenMissing) {
    switch (file.open(state.inputPath)) {
        case InputFile::OpenStatus::Opened:
            return std::nullopt;
        case InputFile::OpenStatus::NotRegularFile:
            errors.notRegularFile();
            return Pass::Outcome::Refused;
        case InputFile::OpenStatus::CannotOpen:
            break;
    }
    if (waitWhenMissing) {
        errors.reason(file.openErrorText());
        return Pass::Outcome::Pause;
    }
    errors.cannotOpen(file.openErrorText());
    return anythingSent ? Pass::Outcome::Pause : Pass::Outcome::Refused;
}

std::int64_t FileSource::measure(InputFile& file) const {
    return std::min(file.measure(), limits.sizeLimit);
}

std::optional<Pass> FileSource::capReached(bool moreToSend) const {
    if (state.readPosition < limits.positionCap) {
        return std::nullopt;
    }
    Pass pass;
    pass.outcome = moreToSend ? Pass::Outcome::CapReached : Pass::Outcome::Ended;
    return pass;
}

std::uint8_t* FileSource::buffer(std::uint32_t size) {
    if (room.size() >= size) {
        return room.data();
    }
    if (buffer_.size() < size) {
        buffer_.resize(size);
    }
    return buffer_.data();
}

Pass FileSource::readAndSend(InputFile& file, std::uint32_t size) {
    Pass pass;
    std::uint8_t* data = buffer(size);
    const std::size_t delivered = file.read(data, size);
    if (file.readFailed()) {
        errors.cannotRead(file.readErrorText());
        file.close();
        pass.outcome = Pass::Outcome::Pause;
        return pass;
    }
    // Past the file's end: cleared, so stale memory never goes on air.
    std::memset(data + delivered, 0, size - delivered);
    file.close();
    anythingSent = true;
    pass.outcome = Pass::Outcome::Send;
    pass.data = data;
    pass.size = size;
    pass.delivered = static_cast<std::uint32_t>(delivered);
    return pass;
}

}  // namespace iqfeeder
