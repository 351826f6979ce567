#include "common/ConsoleOutput.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <poll.h>
#endif

namespace iqfeeder {
namespace {

// The held text for the time of one change; not had when the deadline took it.
class Claim {
  public:
    explicit Claim(std::atomic<bool>& flag) : flag_(flag), had_(!flag.exchange(true)) {}
    ~Claim() {
        if (had_) {
            flag_.store(false);
        }
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    explicit operator bool() const { return had_; }

  private:
    std::atomic<bool>& flag_;
    bool had_;
};

}  // namespace

void ConsoleOutput::writeInBlocks(std::function<std::uint64_t()> clockMs) {
    blockClock_ = std::move(clockMs);
}

void ConsoleOutput::fail(const char* reason) {
    failed_ = true;
    held_.clear();
    lines_.clear();
    if (onFailure_) {
        onFailure_(reason);
    }
}

bool ConsoleOutput::dropCarriageLine() {
    std::size_t offset = 0;
    for (auto line = lines_.begin(); line != lines_.end(); ++line) {
        if (line->carriage && !(line == lines_.begin() && frontStarted_)) {
            held_.erase(offset, line->length);
            lines_.erase(line);
            linesLost_.fetch_add(1, std::memory_order_relaxed);
            ++lostUnreported_;
            return true;
        }
        offset += line->length;
    }
    return false;
}

void ConsoleOutput::hold(const char* text, std::size_t size) {
    const bool carriage = size > 0 && text[size - 1] == '\r';
    while (held_.size() + size > kBoundBytes && dropCarriageLine()) {
    }
    if (held_.size() + size > kBoundBytes) {
        linesLost_.fetch_add(1, std::memory_order_relaxed);
        ++lostUnreported_;
        return;
    }
    if (held_.empty() && blockClock_) {
        heldSinceMs_ = blockClock_();
    }
    held_.append(text, size);
    lines_.push_back({size, carriage});
}

void ConsoleOutput::writeHeld() {
    while (!held_.empty() && !failed_) {
        const long long written = writeNow(held_.data(), held_.size());
        if (written < 0) {
            fail(std::strerror(errno));
            return;
        }
        if (written == 0) {
            return;
        }
        auto done = static_cast<std::size_t>(written);
        held_.erase(0, done);
        while (done > 0 && done >= lines_.front().length) {
            done -= lines_.front().length;
            lines_.pop_front();
        }
        if (done > 0) {
            lines_.front().length -= done;
        }
        frontStarted_ = done > 0;
    }
}

std::uint64_t ConsoleOutput::lostToReport() {
    if (!held_.empty() || failed_) {
        return 0;
    }
    const std::uint64_t lost = lostUnreported_;
    lostUnreported_ = 0;
    return lost;
}

// Outside the claim: the report may go to this very stream.
void ConsoleOutput::reportLost(std::uint64_t lines) const {
    if (lines > 0 && onLinesLost_) {
        onLinesLost_(lines);
    }
}

void ConsoleOutput::writeHeldAtDeadline() {
    if (claimed_.exchange(true)) {
        return;
    }
    std::size_t done = 0;
    while (done < held_.size() && !failed_) {
        const long long written = writeNow(held_.data() + done, held_.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

bool ConsoleOutput::blockDue() const {
    return held_.size() >= kBlockBytes || blockClock_() - heldSinceMs_ >= kBlockAgeMs;
}

void ConsoleOutput::pump() {
    std::uint64_t lost = 0;
    {
        const Claim claim(claimed_);
        if (!claim || held_.empty() || failed_ || (blockClock_ && !blockDue())) {
            return;
        }
        writeHeld();
        lost = lostToReport();
    }
    reportLost(lost);
}

int ConsoleOutput::sync() {
    std::uint64_t lost = 0;
    {
        const Claim claim(claimed_);
        if (!claim) {
            return 0;
        }
        writeHeld();
        lost = lostToReport();
    }
    reportLost(lost);
    return 0;
}

void ConsoleOutput::finish(std::uint32_t milliseconds) {
    std::uint64_t lost = 0;
    {
        const Claim claim(claimed_);
        if (!claim) {
            return;
        }
        writeHeld();
#ifdef _WIN32  // the writes there wait for the reader
        (void)milliseconds;
#else
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (!held_.empty() && !failed_) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            pollfd ready{fd_, POLLOUT, 0};
            (void)::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 100)));
            writeHeld();
        }
#endif
        lost = lostToReport();
    }
    reportLost(lost);
}

std::streamsize ConsoleOutput::xsputn(const char* text, std::streamsize count) {
    std::uint64_t lost = 0;
    {
        const Claim claim(claimed_);
        if (claim) {
            put(text, count);
            lost = lostToReport();
        }
    }
    reportLost(lost);
    return count;
}

void ConsoleOutput::put(const char* text, std::streamsize count) {
    // Once failed, dropped: the stream above must stay good, whatever happens here.
    if (failed_ || count <= 0) {
        return;
    }
    auto size = static_cast<std::size_t>(count);
    if (held_.empty() && !blockClock_) {
        const long long written = writeNow(text, size);
        if (written < 0) {
            fail(std::strerror(errno));
            return;
        }
        const auto done = static_cast<std::size_t>(written);
        if (done == size) {
            return;
        }
        // The rest of a line that is partly out must follow it, whatever the bound.
        if (done > 0) {
            held_.assign(text + done, size - done);
            lines_.push_back({size - done, text[size - 1] == '\r'});
            frontStarted_ = true;
            return;
        }
    }
    hold(text, size);
    if (!blockClock_ || blockDue()) {
        writeHeld();
    }
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char one = traits_type::to_char_type(c);
        xsputn(&one, 1);
    }
    return traits_type::not_eof(c);
}

}  // namespace iqfeeder
