// A shared library opened at run time, the way the system loads a plug-in's runtime: dlopen and
// dlsym on POSIX, LoadLibrary and GetProcAddress on Windows. Kept apart from the Notes headers,
// which declare some of windows.h's type names differently.
#pragma once

#include <string>

namespace notesemu::test {

class LoadedLibrary {
public:
    explicit LoadedLibrary(const char *path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why the library could not be opened ("" when it was).
    const std::string &error() const { return error_; }
    // The address of an exported name, or nullptr when the library exports no such name.
    void *symbol(const char *name) const;

private:
    void *handle_ = nullptr;
    std::string error_;
};

} // namespace notesemu::test
