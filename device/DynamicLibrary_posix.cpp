#include <dlfcn.h>

#include "device/DynamicLibrary.h"

namespace iqfeeder {

DynamicLibrary::DynamicLibrary(const std::string& name)
    : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
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

DynamicLibrary::~DynamicLibrary() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
}

void* DynamicLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace iqfeeder
