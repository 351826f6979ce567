// One kind of input, as the run's loop sees it: each pass asks it for the next buffer, which it
// fills (and prints its pass lines for) by its own rules. A recording, a live file and a stream
// are kinds; each keeps the state it alone needs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/Console.h"
#include "stream/LiveFigures.h"
#include "stream/NetworkFigures.h"

namespace iqfeeder {

using SleepFunction = std::function<void(std::uint32_t milliseconds)>;
using StopQuery = std::function<bool()>;

// What an input reaches outside itself.
struct InputSeams {
    Console& console;
    Console& diagnostics;  // standard error: what the fixed lines leave unsaid
    SleepFunction sleep;
    StopQuery stopping;
    // Called at least once a second while the input waits for data (a stream's writer).
    std::function<void()> idle;
    // In place of `idle` for a network input: the same, with its figures as they stand.
    std::function<void(const NetworkFigures&)> network = {};
};

class InputKind;

struct Pass {
    enum class Outcome {
        Send,        // `data` holds `size` bytes for the device
        Skip,        // nothing to send this pass; go on
        Pause,       // the input failed for now: try again after a pause
        Ended,       // the input is done; the run ends normally
        CapReached,  // the position cap ended the run with the input not all sent
        Refused,     // the input can't be used: the run ends with status 1
        Stopped,     // the operator stopped the run during the pass
        Handover,    // the input turned out another kind: `successor` goes on from here
    };
    Pass() = default;
    explicit Pass(Outcome what) : outcome(what) {}

    Outcome outcome = Outcome::Skip;
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t delivered = 0;            // of `size`, read from the input; the rest is padding
    std::optional<LiveFigures> live;        // a live file's pass
    std::optional<NetworkFigures> network;  // a network input's pass
    std::string status;                     // a pause's wait, as a service manager is told it
    std::unique_ptr<InputKind> successor;
};

class InputKind {
  public:
    InputKind() = default;
    virtual ~InputKind() = default;
    InputKind(const InputKind&) = delete;
    InputKind& operator=(const InputKind&) = delete;
    InputKind(InputKind&&) = delete;
    InputKind& operator=(InputKind&&) = delete;

    // What the input needs before the run is said to be ready (a listener bound, say); false
    // when it can't be had, its lines said: the run then ends with status 1.
    virtual bool prepare() { return true; }
    // One pass: its console lines and its buffer, valid until the next call. The buffer is read
    // into `room` (the device link's, so that it reaches the driver without a copy) when it
    // fits there.
    virtual Pass next(std::span<std::uint8_t> room) = 0;
    // While the device is gone: true when the input waits for it (nothing of it may be
    // skipped), false when it goes on by its own rules.
    virtual bool waitsForDevice() const = 0;
};

}  // namespace iqfeeder
