#include "port/runtime_library.h"

#include <dlfcn.h>

namespace tessera {

RuntimeLibrary::RuntimeLibrary(const char* file, const char* kind, const char* neededFor) : file_(file) {
    // RTLD_LOCAL keeps the library's names from resolving anything else the process loads later.
    handle_ = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        error_ = std::string("the ") + kind + " " + file_ + " cannot be loaded (" + (why ? why : "unknown reason") +
                 "); " + neededFor;
    }
}

void* RuntimeLibrary::symbol(const char* name) {
    if (!error_.empty()) return nullptr;
    void* entry = ::dlsym(handle_, name);
    if (!entry) error_ = file_ + " lacks " + name;
    return entry;
}

} // namespace tessera
