#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "device/DynamicLibrary.h"

namespace iqfeeder {

namespace {

HMODULE load(const std::string& name) {
    // Look beside the program and in the system folders only: the current directory and PATH
    // are where a stray or planted DLL of the same name would come from. No error dialog if
    // the library is there but broken; it then just counts as absent.
    ::DWORD previousMode = 0;
    const bool modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
    HMODULE module = ::LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (modeSet) {
        ::SetThreadErrorMode(previousMode, nullptr);
    }
    return module;
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& name) : handle_(load(name)) {}

DynamicLibrary::~DynamicLibrary() {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
    }
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    // FARPROC is a generic function pointer; the caller casts to the real signature.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace iqfeeder
