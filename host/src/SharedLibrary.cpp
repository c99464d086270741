#include "SharedLibrary.h"

#include "PathText.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace quillon {

#ifdef _WIN32

namespace {

std::string lastErrorText() {
    DWORD dwError = GetLastError();
    char *pszText = nullptr;
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, dwError, 0, reinterpret_cast<char *>(&pszText), 0, nullptr);
    std::string text = cch != 0 ? std::string(pszText, cch) : "error " + std::to_string(dwError);
    LocalFree(pszText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

void *openLibrary(const std::filesystem::path &path, std::string &error) {
    // A library given by its path has its own folder searched first for the DLLs it imports, as
    // on POSIX the plug-in finds its runtime through its own search path: the emulated nnotes.dll
    // installed beside tessel_nsf.dll, or a Notes client's on the system's search path.
    HMODULE hModule = path.has_parent_path() ? LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                             : LoadLibraryW(path.c_str());
    if (hModule == nullptr)
        error = utf8Text(path) + ": " + lastErrorText();
    return reinterpret_cast<void *>(hModule);
}

void *findSymbol(void *hLibrary, const char *pszName, std::string &error) {
    FARPROC pfn = GetProcAddress(static_cast<HMODULE>(hLibrary), pszName);
    if (pfn == nullptr)
        error = std::string(pszName) + ": " + lastErrorText();
    return reinterpret_cast<void *>(pfn);
}

void closeLibrary(void *hLibrary) {
    FreeLibrary(static_cast<HMODULE>(hLibrary));
}

std::string platformLibraryName(const std::string &name) {
    return name;
}

#else

void *openLibrary(const std::filesystem::path &path, std::string &error) {
    void *hLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (hLibrary == nullptr) {
        const char *pszError = dlerror();
        error = pszError != nullptr ? pszError : utf8Text(path) + ": cannot load the library";
    }
    return hLibrary;
}

void *findSymbol(void *hLibrary, const char *pszName, std::string &error) {
    dlerror();
    void *pSymbol = dlsym(hLibrary, pszName);
    if (pSymbol == nullptr) {
        const char *pszError = dlerror();
        error = pszError != nullptr ? pszError : std::string(pszName) + ": symbol is null";
    }
    return pSymbol;
}

void closeLibrary(void *hLibrary) {
    dlclose(hLibrary);
}

std::string platformLibraryName(const std::string &name) {
#ifdef __APPLE__
    static constexpr const char *kSuffix = ".dylib";
#else
    static constexpr const char *kSuffix = ".so";
#endif
    static constexpr size_t kDll = 4; // ".dll"
    if (name.size() <= kDll)
        return name;
    std::string extension = name.substr(name.size() - kDll);
    for (char &c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (extension != ".dll")
        return name;
    return "lib" + name.substr(0, name.size() - kDll) + kSuffix;
}

#endif

} // namespace quillon
