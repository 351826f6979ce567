// A stand-in for the encoder of a live stream: a child process that appends to a file at a
// steady rate, writing at every offset o the pattern byte patternByteAt(o), so any byte read
// back shows where in the file it came from.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace iqfeeder::testing {

class FileProducer {
  public:
    // Starts appending at once, one portion every `tick`, so that after t seconds
    // bytesPerSecond * t bytes have been added to what the file held.
    FileProducer(const std::string& path, std::uint64_t bytesPerSecond,
                 std::chrono::milliseconds tick = std::chrono::milliseconds(10));
    // Stops it.
    ~FileProducer();
    FileProducer(const FileProducer&) = delete;
    FileProducer& operator=(const FileProducer&) = delete;

    // Ends the producer and waits until it has gone; the file then stays as it is.
    void stop();

  private:
    pid_t pid_ = -1;
};

}  // namespace iqfeeder::testing
