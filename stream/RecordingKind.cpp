#include "stream/RecordingKind.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/ConsoleLines.h"

namespace iqfeeder {

Pass RecordingKind::next(std::span<std::uint8_t> room) {
    source_.room = room;
    RunState& state = source_.state;
    // Sent whole when the cap is reached exactly at the file's end: nothing to say then.
    if (std::optional<Pass> capped = source_.capReached(state.fileSize > state.readPosition)) {
        return std::move(*capped);
    }
    if (heldLength_ > 0) {
        printRepeatLine();
        return repeatsDone_ ? Pass{Pass::Outcome::Ended} : fillFromMemory();
    }
    InputFile file;
    if (const auto failed = source_.open(file)) {
        return Pass{*failed};
    }
    state.fileSize = source_.measure(file);
    state.probeSize = state.fileSize;
    // A recording never probes again, even back at its start.
    file.seekTo(state.readPosition);
    if (repeating_) {
        return repeatPass(file);
    }

    source_.seams.console.print(lines::kRecordedProgress,
                                static_cast<long long>(state.readPosition / 1000),
                                static_cast<long long>(state.fileSize / 1000));
    if (state.readPosition > state.fileSize) {
        source_.seams.console.print("%s", lines::kFileSent);
        return Pass{Pass::Outcome::Ended};
    }
    Pass pass = source_.readAndSend(file, state.bufferSize);
    if (pass.outcome == Pass::Outcome::Send) {
        state.readPosition =
            std::min(state.readPosition + state.bufferSize, source_.limits.sizeLimit);
    }
    return pass;
}

void RecordingKind::printRepeatLine() const {
    const RunState& state = source_.state;
    const auto sent = static_cast<long long>(state.readPosition / 1000);
    const auto total = static_cast<long long>(state.fileSize / 1000);
    const auto repetition = static_cast<unsigned long long>(repetition_);
    if (repeatCount_ == 0) {
        source_.seams.console.print(lines::kRepeatProgress, sent, total, repetition);
    } else {
        source_.seams.console.print(lines::kRepeatProgressOf, sent, total, repetition,
                                    static_cast<unsigned long long>(repeatCount_));
    }
    if (repeatsDone_) {
        source_.seams.console.print("%s", lines::kFileSent);
    }
}

Pass RecordingKind::repeatPass(InputFile& file) {
    const RunState& state = source_.state;
    printRepeatLine();
    if (repeatsDone_) {
        return Pass{Pass::Outcome::Ended};
    }
    if (state.readPosition == 0 && state.fileSize > 0 && state.fileSize <= state.bufferSize) {
        return hold(file) ? fillFromMemory() : Pass{Pass::Outcome::Pause};
    }
    return fillFromFile(file);
}

bool RecordingKind::hold(InputFile& file) {
    const auto length = static_cast<std::size_t>(source_.state.fileSize);
    const std::size_t copies = 1 + (source_.state.bufferSize + length - 1) / length;
    held_.resize(copies * length);
    const std::size_t delivered = file.read(held_.data(), length);
    file.close();
    if (file.readFailed() || delivered < length) {
        // Cut since it was measured: read as a long file would be, at the next pass.
        if (file.readFailed()) {
            source_.errors.cannotRead(file.readErrorText());
        }
        held_.clear();
        return false;
    }
    for (std::size_t copy = 1; copy < copies; ++copy) {
        std::memcpy(held_.data() + copy * length, held_.data(), length);
    }
    heldLength_ = static_cast<std::int64_t>(length);
    return true;
}

Pass RecordingKind::fillFromMemory() {
    RunState& state = source_.state;
    const std::int64_t length = heldLength_;
    const std::int64_t position = state.readPosition;
    // What is left to send in all: the rest of this repetition and all those after it.
    std::int64_t left = std::numeric_limits<std::int64_t>::max();
    if (repeatCount_ != 0) {
        const std::uint64_t after = repeatCount_ - repetition_;
        if (after < static_cast<std::uint64_t>(left / length)) {
            left = (length - position) + static_cast<std::int64_t>(after) * length;
        }
    }
    const std::int64_t count = std::min<std::int64_t>(state.bufferSize, left);
    std::uint8_t* data = source_.buffer(state.bufferSize);
    std::memcpy(data, held_.data() + position, static_cast<std::size_t>(count));
    if (count == left) {
        repeatsDone_ = true;
        repetition_ = repeatCount_;
        state.readPosition = length;
    } else {
        // Every end of the file passed is a wrap to the next repetition.
        const std::int64_t reached = position + count;
        repetition_ += static_cast<std::uint64_t>(reached / length);
        state.readPosition = reached % length;
    }
    return sendFilled(data, static_cast<std::size_t>(count));
}

Pass RecordingKind::fillFromFile(InputFile& file) {
    // The buffer that reaches the end of the file is filled on from its start: no gap between
    // two repetitions. Committed only once the buffer is whole, so a failed read leaves the
    // pass to be tried again as it was.
    RunState& state = source_.state;
    const std::uint32_t size = state.bufferSize;
    std::uint8_t* data = source_.buffer(size);
    std::size_t delivered = 0;
    std::int64_t position = state.readPosition;
    std::int64_t length = state.fileSize;
    std::uint64_t repetition = repetition_;
    bool done = false;
    for (;;) {
        const std::size_t got = file.read(data + delivered, size - delivered);
        if (file.readFailed()) {
            source_.errors.cannotRead(file.readErrorText());
            return Pass{Pass::Outcome::Pause};
        }
        delivered += got;
        position += static_cast<std::int64_t>(got);
        if (delivered == size && position < length) {
            break;
        }
        // The end of the file. After the last repetition, or one that gave nothing, there is
        // nothing more to send: never spin on a file that was emptied.
        if ((repeatCount_ != 0 && repetition >= repeatCount_) || position == 0) {
            done = true;
            break;
        }
        // Measured again at every wrap, as the file may have been cut or regrown.
        length = source_.measure(file);
        ++repetition;
        position = 0;
        if (delivered == size) {
            break;
        }
    }
    state.fileSize = length;
    state.readPosition = position;
    repetition_ = repetition;
    repeatsDone_ = done;
    return sendFilled(data, delivered);
}

Pass RecordingKind::sendFilled(std::uint8_t* data, std::size_t delivered) {
    if (delivered == 0) {
        return Pass{Pass::Outcome::Skip};
    }
    const std::uint32_t size = source_.state.bufferSize;
    std::memset(data + delivered, 0, size - delivered);
    source_.anythingSent = true;
    Pass pass{Pass::Outcome::Send};
    pass.data = data;
    pass.size = size;
    pass.delivered = static_cast<std::uint32_t>(delivered);
    return pass;
}

}  // namespace iqfeeder
