// Standard output (or error) as the console writes it. The console must never hold up the
// transmission, and it never waits for its reader: what the reader can't take yet (a paused
// terminal, a stalled ssh session, a pipe nobody reads) waits in a bounded buffer and goes out
// when the reader takes text again. Past the bound, the carriage-return lines waiting go first
// (each is overwritten by the next anyway), then further lines, and once the reader takes text
// again one line on standard error says how many were lost. A reader that keeps up gets every
// byte as printed: a message at a time (on a terminal, in a log), or in blocks where asked. A
// write that fails (the reader of a pipe gone, a full disk, an I/O error) is reported once, and
// the text is dropped from then on while the run goes on.
//
// The descriptor's own flags are never changed (O_NONBLOCK would leak into the shell and the
// terminal that share it): a socket is written with a non-blocking send, a pipe or terminal
// through a non-blocking description of its own opened anew, and where that can't be had, a
// zero-timeout poll comes before each write.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <streambuf>
#include <string>

namespace iqfeeder {

class ConsoleOutput : public std::streambuf {
  public:
    static constexpr std::size_t kBoundBytes = 65536;
    // Text held for blocks goes out once there is this much, or once it is this old.
    static constexpr std::size_t kBlockBytes = 4096;
    static constexpr std::uint64_t kBlockAgeMs = 1000;

    // `onFailure` gets the system's reason ("Broken pipe") the first time a write fails.
    ConsoleOutput(int fd, std::function<void(const std::string&)> onFailure);
    ~ConsoleOutput() override;
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // Text held and written in blocks, by `clockMs` (milliseconds, monotonic) for their age.
    void writeInBlocks(std::function<std::uint64_t()> clockMs);
    // Told how many lines were lost, once the reader takes text again.
    void onLinesLost(std::function<void(std::uint64_t lines)> report) {
        onLinesLost_ = std::move(report);
    }
    // Writes what waits, as far as the reader takes it now: a block only once it is due.
    void pump();
    // Waits up to `milliseconds` for the reader to take what is left (the end of a run).
    void finish(std::uint32_t milliseconds);
    // Every line lost since the start (for iqfeeder_console_lines_lost_total); may be read
    // from any thread.
    std::uint64_t linesLost() const { return linesLost_.load(std::memory_order_relaxed); }
    // For the stop deadline, which ends a run stuck in a write: what is held goes out as far
    // as the reader takes it now, unless the run was changing it when the signal came. Safe in
    // a signal handler; the stream takes nothing more after.
    void writeHeldAtDeadline();

  protected:
    // Writes what waits, as far as the reader takes it now, blocks or not (before a wait).
    int sync() override;
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

  private:
    struct Line {
        std::size_t length;
        bool carriage;  // ends in "\r": overwritten by the next
    };
    // One try without waiting: bytes taken, 0 when the reader takes none now, -1 on failure.
    long long writeNow(const char* data, std::size_t size);
    void put(const char* text, std::streamsize count);
    void hold(const char* text, std::size_t size);
    bool dropCarriageLine();
    void writeHeld();
    bool blockDue() const;
    void fail(const char* reason);
    // Lines lost while the reader took nothing, to be reported now that it takes text again.
    std::uint64_t lostToReport();
    void reportLost(std::uint64_t lines) const;

    int fd_;
    int ownFd_ = -1;  // a non-blocking description of the same pipe or terminal, when opened
    bool isSocket_ = false;
    bool pollFirst_ = false;
    std::function<void(const std::string&)> onFailure_;
    std::function<void(std::uint64_t)> onLinesLost_;
    std::function<std::uint64_t()> blockClock_;  // set: written in blocks
    bool failed_ = false;
    std::string held_;
    std::deque<Line> lines_;
    bool frontStarted_ = false;  // part of the first held line is out: it can't be dropped
    std::uint64_t heldSinceMs_ = 0;
    std::atomic<std::uint64_t> linesLost_{0};
    std::uint64_t lostUnreported_ = 0;
    // Held by whoever changes or writes the held text: the run's thread, or the deadline.
    std::atomic<bool> claimed_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "taken in a signal handler");
};

}  // namespace iqfeeder
