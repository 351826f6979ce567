#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "common/DynamicLibrary.h"
#include "common/SystemError.h"
#include "common/Utf16.h"

namespace iqfeeder {

namespace {

// Look beside the program and in the system folders only: the current directory and PATH are
// where a stray or planted DLL of the same name would come from. No error dialog if the library
// is there but broken; it then counts as absent, with its reason told. Returns the loader's error.
HMODULE load(const Utf16String& name, ::DWORD& error) {
    ::DWORD previousMode = 0;
    const bool modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
    HMODULE module = ::LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    error = ::GetLastError();
    if (modeSet) {
        ::SetThreadErrorMode(previousMode, nullptr);
    }
    return module;
}

bool isFile(const Utf16String& path) {
    const ::DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

Utf16String programFolder() {
    Utf16String path(MAX_PATH, L'\0');
    for (;;) {
        const ::DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<::DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path.substr(0, path.find_last_of(L"\\/") + 1);
        }
        path.resize(path.size() * 2);
    }
}

Utf16String systemFolder() {
    Utf16String path(MAX_PATH, L'\0');
    const ::UINT length = ::GetSystemDirectoryW(path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    path.resize(length);
    return path + L'\\';
}

// The file the loader would have taken, in the folders it searches; empty when there is none.
// A missing library and one whose own dependency is missing give the same error, so this is
// what tells them apart.
Utf16String searchedCopy(const Utf16String& name) {
    if (name.find_first_of(L"\\/") != Utf16String::npos) {
        return isFile(name) ? name : Utf16String();
    }
    const Utf16String folders[] = {programFolder(), systemFolder()};
    const auto* found =
        std::find_if(std::begin(folders), std::end(folders),
                     [&](const Utf16String& f) { return !f.empty() && isFile(f + name); });
    return found != std::end(folders) ? *found + name : Utf16String();
}

// The system's text for an error, with the library's name where it has a "%1".
std::string errorText(::DWORD error, const std::string& name) {
    std::string text = systemErrorText(static_cast<int>(error));
    for (std::size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at)) {
        text.replace(at, 2, name);
        at += name.size();
    }
    if (text.empty()) {
        text = "cannot be loaded";
    }
    return text + " (error " + std::to_string(error) + ")";
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& name) {
    const Utf16String wide = utf16FromUtf8(name);
    ::DWORD error = 0;
    handle_ = load(wide, error);
    if (handle_ != nullptr) {
        return;
    }
    const Utf16String found = searchedCopy(wide);
    if (found.empty() && error == ERROR_MOD_NOT_FOUND) {
        return;  // not installed
    }
    failure_ = (found.empty() ? name : utf8FromUtf16(found)) + ": " + errorText(error, name);
}

// Never unloaded: a driver library's own threads may still run in it when the program ends.
DynamicLibrary::~DynamicLibrary() = default;

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    // FARPROC is a generic function pointer; the caller casts to the real signature.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace iqfeeder
