// Shared libraries through dlopen (LoadLibrary on Windows), as raw handles for the services
// table's entries and as an owner for the host's own use.
#ifndef QUILLON_HOST_SHAREDLIBRARY_H
#define QUILLON_HOST_SHAREDLIBRARY_H

#include <filesystem>
#include <string>
#include <utility>

namespace quillon {

// Opens a library by path; null with the system's message in error on failure.
void *openLibrary(const std::filesystem::path &path, std::string &error);
// The address of an exported symbol, or null with the system's message in error.
void *findSymbol(void *hLibrary, const char *pszName, std::string &error);
void closeLibrary(void *hLibrary);

// The platform's file name for a library name given in its Windows form: "bmpcv.dll" becomes
// "libbmpcv.so" (".dylib" on macOS); on Windows the name stays as it is. A name that does not end in
// ".dll" (any case) is kept.
std::string platformLibraryName(const std::string &name);

// Owns an open library.
class SharedLibrary {
public:
    SharedLibrary() = default;
    explicit SharedLibrary(void *hLibrary) : hLibrary_(hLibrary) {}
    ~SharedLibrary() { reset(); }
    SharedLibrary(SharedLibrary &&other) noexcept : hLibrary_(std::exchange(other.hLibrary_, nullptr)) {}
    SharedLibrary &operator=(SharedLibrary &&other) noexcept {
        if (this != &other) {
            reset();
            hLibrary_ = std::exchange(other.hLibrary_, nullptr);
        }
        return *this;
    }

    void *get() const { return hLibrary_; }
    void *release() { return std::exchange(hLibrary_, nullptr); }
    void reset() {
        if (hLibrary_ != nullptr)
            closeLibrary(hLibrary_);
        hLibrary_ = nullptr;
    }

private:
    void *hLibrary_ = nullptr;
};

} // namespace quillon

#endif
