// A wait that a stop always ends, even one whose signal lands just before the wait begins:
// signals are held from the stop check until the wait starts, and the wait lets them in, so
// one that came in between ends it at once rather than after it (POSIX).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace iqfeeder {

enum class WaitOutcome { Ready, TimedOut, Interrupted, Stopped, Failed };

// Waits until `fd` has data (with `writing`, room; with fd < 0, for nothing), `timeoutMs` has
// passed (without one, for as long as it takes) or a signal is handled; returns Stopped without
// waiting when `stopping()` holds. Failed leaves errno set.
WaitOutcome waitUnlessStopped(int fd, std::optional<std::uint32_t> timeoutMs,
                              const std::function<bool()>& stopping, bool writing = false);

// The same waits for a reader that waits again and again (a network input, once a datagram):
// signals are held while it lives, so each wait lets them in with no mask calls of its own.
class HeldSignals {
  public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    HeldSignals(HeldSignals&&) = delete;
    HeldSignals& operator=(HeldSignals&&) = delete;

    WaitOutcome wait(int fd, std::optional<std::uint32_t> timeoutMs,
                     const std::function<bool()>& stopping, bool writing = false) const;

  private:
    alignas(8) std::array<unsigned char, 256> previous_{};  // the thread's mask before: a sigset_t
};

}  // namespace iqfeeder
