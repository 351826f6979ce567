// A shared library loaded at run time by bare name, found by the platform's library search (on
// Windows narrowed to the program's folder and the system folders).
#pragma once

#include <string>

namespace iqfeeder {

class DynamicLibrary {
  public:
    explicit DynamicLibrary(const std::string& name);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool isLoaded() const { return handle_ != nullptr; }
    // The address of an exported symbol, or null.
    void* symbol(const char* name) const;

  private:
    void* handle_ = nullptr;
};

}  // namespace iqfeeder
