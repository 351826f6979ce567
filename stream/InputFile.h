// The input file, held for one pass. Opened for reading while its producer keeps appending;
// a seek to a negative offset fails and leaves the offset where it was. The offset is our own
// and every read says where it reads, so measuring and seeking cost no system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace iqfeeder {

class InputFile {
  public:
    enum class OpenStatus { Opened, CannotOpen, NotRegularFile };

    InputFile() = default;
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Refuses anything but a regular file, and never blocks on a FIFO while finding out.
    OpenStatus open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // The system's reason the last open returned CannotOpen ("Permission denied").
    std::string openErrorText() const;

    // Length in bytes; leaves the offset at 0. The first call after the open takes the length
    // the open already found (a pass measures right after opening); later calls look at the
    // file again.
    std::int64_t measure();
    void seekTo(std::int64_t offset);
    // Reads at the offset until `size` bytes arrived, the file ends or a read fails, and moves
    // the offset past them; returns the bytes delivered.
    std::size_t read(std::uint8_t* buffer, std::size_t size);
    // The last read stopped at a failure, not at the file's end; and the system's reason.
    bool readFailed() const { return readError_ != 0; }
    std::string readErrorText() const;
    void close();

  private:
    int fd_ = -1;
    int openError_ = 0;
    int readError_ = 0;
    std::int64_t offset_ = 0;
    std::int64_t lengthAtOpen_ = -1;  // -1 once measure() has used it
};

}  // namespace iqfeeder
