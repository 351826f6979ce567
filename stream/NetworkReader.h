// What reads a network input for its kind: one per transport (sockets, libsrt), each with the
// same console lines and figures, so the kind around it fills and says its buffers alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "stream/InputKind.h"

namespace iqfeeder {

struct NetworkSettings {
    bool sayEvents = false;  // the run says its events (--stats, --progress): time-outs too
    // Milliseconds, monotonic, for the senders' time-outs; unset: the system's (a sender's
    // silence is real time, whatever pace the run's own clock keeps).
    std::function<std::uint64_t()> clock = {};
};

class NetworkReader {
  public:
    enum class ReadStatus { Full, SenderEnded, Stopped, Failed };
    // Asked while the input waits (to connect again, for a sender, for data): whether the run
    // is stopping, and `idle` at least once a second until the buffer is whole.
    struct WaitHooks {
        std::function<bool()> stopping;
        std::function<void()> idle;
    };
    using Settings = NetworkSettings;

    NetworkReader() = default;
    virtual ~NetworkReader() = default;
    NetworkReader(const NetworkReader&) = delete;
    NetworkReader& operator=(const NetworkReader&) = delete;
    NetworkReader(NetworkReader&&) = delete;
    NetworkReader& operator=(NetworkReader&&) = delete;

    // Binds where the operand says (a listener, UDP); a client connects at its first read.
    // False when it can't (see errorText()), with its lines said.
    virtual bool open() = 0;
    // Fills `size` bytes from the current sender, taking the next one as needed. SenderEnded:
    // the sender ended (or was lost) with `delivered` bytes of this buffer, to be padded and
    // sent; the next read takes the next sender.
    virtual ReadStatus read(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                            const WaitHooks& hooks) = 0;
    // The line for the sender that ended with the last buffer, once the caller has said that
    // buffer's progress (else at the next read).
    virtual void sayEnding() = 0;
    virtual std::string errorText() const = 0;
    virtual NetworkFigures figures() const = 0;
};

}  // namespace iqfeeder
