#include <dlfcn.h>

#include "device/DynamicLibrary.h"

namespace iqfeeder {

DynamicLibrary::DynamicLibrary(const std::string& name)
    : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

DynamicLibrary::~DynamicLibrary() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
}

void* DynamicLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace iqfeeder
