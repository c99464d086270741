#include "LibraryLoader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace notesemu::test {

#ifdef _WIN32
LoadedLibrary::LoadedLibrary(const char *path) {
    handle_ = ::LoadLibraryA(path);
    if (handle_ == nullptr)
        error_ = "LoadLibrary failed with error " + std::to_string(::GetLastError());
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(handle_));
}

void *LoadedLibrary::symbol(const char *name) const {
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}
#else
LoadedLibrary::LoadedLibrary(const char *path) {
    handle_ = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        error_ = ::dlerror();
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

void *LoadedLibrary::symbol(const char *name) const {
    return ::dlsym(handle_, name);
}
#endif

} // namespace notesemu::test
