// Helpers only the Windows tests need.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace iqfeeder::testing {

// The folder of the running test program; the build puts the program under test and the
// stand-in libraries at fixed places relative to it.
std::filesystem::path testProgramDirectory();

// Sets variables in this process's environment (which a DLL loaded here also reads) and removes
// them again.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::map<std::string, std::string>& variables);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::vector<std::string> names_;
};

// Runs argv with its standard handles on this process's console, and returns its exit status.
int runChildOnThisConsole(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& extraEnvironment);

// Points a device name (COM9, say) at a named pipe of its own for as long as it lives, so that
// whatever opens the device, even only to read its attributes, shows as a client of the pipe.
class DeviceOpenProbe {
  public:
    explicit DeviceOpenProbe(const std::string& deviceName);
    ~DeviceOpenProbe();
    DeviceOpenProbe(const DeviceOpenProbe&) = delete;
    DeviceOpenProbe& operator=(const DeviceOpenProbe&) = delete;

    // False where Windows does not let this user define device names.
    bool ready() const { return defined_; }
    bool opened() const;

  private:
    std::wstring deviceName_;
    std::wstring pipeName_;
    void* pipe_ = nullptr;
    bool defined_ = false;
};

// Console text as a Windows program writes it to a redirected standard output: text mode turns
// every "\n" into "\r\n" and leaves a lone "\r" alone.
inline std::string windowsText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace iqfeeder::testing
