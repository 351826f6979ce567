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
    // Why a library that is there did not load (it is broken, built for another machine, or
    // lacks a library it needs), as the platform tells it. Empty when it loaded, and when no
    // file of that name is where the search looks: simply not installed.
    const std::string& failure() const { return failure_; }
    // The address of an exported symbol, or null.
    void* symbol(const char* name) const;

  private:
    void* handle_ = nullptr;
    std::string failure_;
};

}  // namespace iqfeeder
