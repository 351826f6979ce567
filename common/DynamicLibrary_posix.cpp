#include <dlfcn.h>

#include "common/DynamicLibrary.h"

namespace iqfeeder {

DynamicLibrary::DynamicLibrary(const std::string& name)
    : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
    if (handle_ != nullptr) {
        return;
    }
    const char* error = ::dlerror();
    failure_ = error != nullptr ? error : "cannot be loaded";
    // glibc's words when the search found no file of that name. A library it needs that is
    // missing is named first instead, and a broken file gives its own reason: both are told.
    if (failure_ == name + ": cannot open shared object file: No such file or directory") {
        failure_.clear();
    }
}

// Never unloaded: a driver library's own threads may still run in it when the program ends.
DynamicLibrary::~DynamicLibrary() = default;

void* DynamicLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace iqfeeder
