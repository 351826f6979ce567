// Appends to a file the moment another process first closes it after reading. The program's
// first pass opens, measures and closes the input before its 2000 ms probe wait, so an append
// at that close is what a live producer writing during the probe looks like.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace iqfeeder::testing {

class AppendWhenFirstClosed {
  public:
    AppendWhenFirstClosed(std::string path, std::size_t bytes);
    ~AppendWhenFirstClosed();
    AppendWhenFirstClosed(const AppendWhenFirstClosed&) = delete;
    AppendWhenFirstClosed& operator=(const AppendWhenFirstClosed&) = delete;

    bool appended() const { return appended_; }

  private:
    void watch();

    std::string path_;
    std::size_t bytes_;
    int inotify_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> appended_{false};
    std::thread thread_;
};

}  // namespace iqfeeder::testing
