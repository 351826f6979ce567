// Standard input ("-") or a FIFO: read once from its start to its end, as a pipe is. A stream
// can't be measured, sought or reopened; a pass waits until it has a whole buffer, the stream
// ends, or the operator stops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace iqfeeder {

// "-", or a path that names a FIFO (on Windows, a named pipe, \\.\pipe\NAME).
bool isStreamPath(const std::string& path);

class StreamReader {
  public:
    enum class ReadStatus { Full, Ended, Failed, Stopped };
    // Asked while a read waits for data: whether the run is stopping (after any interruption),
    // and `idle` at least once a second until the buffer is whole.
    struct WaitHooks {
        std::function<bool()> stopping;
        std::function<void()> idle;
    };

    StreamReader() = default;
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // Opens without waiting for a FIFO's writer: the first read waits for it. False when the
    // stream can't be opened (see errorText()).
    bool open(const std::string& path);
    // Fills `size` bytes, reading on through short reads and interruptions, unless the stream
    // ends or fails, or the run stops while it waits for data. `delivered` gets what came.
    ReadStatus read(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                    const WaitHooks& hooks);
    // The system's reason for the last failed open or read.
    std::string errorText() const;

  private:
    int fd_ = -1;
    bool ownsFd_ = false;
    int error_ = 0;
};

}  // namespace iqfeeder
