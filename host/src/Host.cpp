#include <quillon/host/Host.h>

#include <quillon/host/Charset.h>
#include <quillon/host/Stream.h>

#include "PathText.h"
#include "SharedLibrary.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <span>

namespace quillon {

struct Host::Table {
    QLHAPI hapi; // first member: the entries cast their QLHAPI pointer back to Table
    Host *host;
};

namespace {

Host &hostOf(QLHAPI *pHAPI) {
    return Host::fromServices(pHAPI);
}

Host &hostOfAllocator(QLAllocator *pAllocator) {
    auto *pHAPI =
        reinterpret_cast<QLHAPI *>(reinterpret_cast<char *>(pAllocator) - offsetof(QLHAPI, allocator));
    return hostOf(pHAPI);
}

int QLAPI entryGetProfileString(QLHAPI *pHAPI, const char *pszSection, const char *pszKey,
                                const char *pszDefault, char *pszBuffer, uint32_t cbBuffer, uint32_t) {
    return pHAPI == nullptr
               ? 0
               : hostOf(pHAPI).profileString(pszSection, pszKey, pszDefault, pszBuffer, cbBuffer);
}

QLStream *QLAPI entryOpenStream(QLHAPI *, const char *pszPath, const char *pszMode) {
    return openStream(pszPath, pszMode);
}

void *QLAPI entryAlloc(QLAllocator *pAllocator, uint32_t cb) {
    return hostOfAllocator(pAllocator).allocator().allocate(cb);
}

void QLAPI entryFree(QLAllocator *pAllocator, void *pBlock) {
    hostOfAllocator(pAllocator).allocator().release(pBlock);
}

void *QLAPI entryRealloc(QLAllocator *pAllocator, void *pBlock, uint32_t cb) {
    return hostOfAllocator(pAllocator).allocator().reallocate(pBlock, cb, false);
}

void *QLAPI entryReallocZero(QLAllocator *pAllocator, void *pBlock, uint32_t cb) {
    return hostOfAllocator(pAllocator).allocator().reallocate(pBlock, cb, true);
}

char *QLAPI entryDupString(QLHAPI *pHAPI, const char *psz) {
    return pHAPI == nullptr ? nullptr : hostOf(pHAPI).dupString(psz);
}

int32_t QLAPI entryConvertCharset(QLHAPI *, int nFromCharset, int nToCharset, const char *pIn, uint32_t cbIn,
                                  char *pOut, uint32_t cbOut) {
    if ((pIn == nullptr && cbIn != 0) || (pOut == nullptr && cbOut != 0))
        return -1;
    return convertCharset(nFromCharset, nToCharset, std::span<const char>(pIn, cbIn),
                          std::span<char>(pOut, cbOut));
}

int QLAPI entryIsLeadByte(QLHAPI *, unsigned char b, int nCharset) {
    return isLeadByte(b, nCharset);
}

int QLAPI entryFormatDateTime(QLHAPI *, const struct tm *pTime, int nFormat, int32_t nDateOrder,
                              int32_t b24Hour, char *pszBuffer, uint32_t cbBuffer) {
    if (pTime == nullptr || pszBuffer == nullptr)
        return 0;
    return formatDateTime(*pTime, nFormat, nDateOrder, b24Hour != 0, std::span<char>(pszBuffer, cbBuffer));
}

void QLAPI entryTimeToFILETIME(QLHAPI *, int64_t tSeconds, QL_FILETIME *pFileTime) {
    if (pFileTime != nullptr)
        *pFileTime = timeToFileTime(tSeconds);
}

int QLAPI entryLoadLibrary(QLHAPI *pHAPI, const char *pszFileName, void **phLibrary) {
    if (phLibrary != nullptr)
        *phLibrary = nullptr;
    if (pHAPI == nullptr || pszFileName == nullptr || phLibrary == nullptr)
        return 0;
    Host &host = hostOf(pHAPI);
    std::string error;
    try {
        *phLibrary = openLibrary(host.libraryPath(pszFileName), error);
    } catch (const std::exception &e) {
        error = e.what();
    }
    if (*phLibrary == nullptr) {
        host.noteLibraryError(error);
        return 0;
    }
    return 1;
}

void *QLAPI entryGetProcAddress(QLHAPI *pHAPI, void *hLibrary, const char *pszName) {
    if (pHAPI == nullptr || hLibrary == nullptr || pszName == nullptr)
        return nullptr;
    std::string error;
    void *pSymbol = findSymbol(hLibrary, pszName, error);
    if (pSymbol == nullptr)
        hostOf(pHAPI).noteLibraryError(error);
    return pSymbol;
}

void QLAPI entryFreeLibrary(QLHAPI *, void *hLibrary) {
    if (hLibrary != nullptr)
        closeLibrary(hLibrary);
}

std::string withSeparator(std::string directory) {
    if (!directory.empty() && directory.back() != '/' && directory.back() != '\\')
        directory += static_cast<char>(std::filesystem::path::preferred_separator);
    return directory;
}

bool isDirectory(const char *pszPath) {
    std::error_code error;
    return std::filesystem::is_directory(pszPath, error);
}

} // namespace

std::string defaultHostDirectory() {
    if (const char *pszHome = std::getenv("TESSEL_HOME"); pszHome != nullptr && *pszHome != '\0')
        return withSeparator(pszHome);
    if (isDirectory(TESSEL_INSTALL_SHARE_DIR))
        return TESSEL_INSTALL_SHARE_DIR;
    if (isDirectory(TESSEL_SOURCE_SHARE_DIR))
        return TESSEL_SOURCE_SHARE_DIR;
    return TESSEL_INSTALL_SHARE_DIR;
}

Host::Host(Config config, HostOptions options)
    : config_(std::move(config)),
      allocator_(options.allocator != nullptr ? options.allocator : &ownAllocator_),
      libraryDir_(std::move(options.libraryDir)), tempDir_(std::move(options.tempDir)),
      hostDir_(options.hostDir.empty() ? defaultHostDirectory() : withSeparator(std::move(options.hostDir))),
      table_(std::make_unique<Table>()) {
    QLHAPI &hapi = table_->hapi;
    hapi.fpLoadLibrary = entryLoadLibrary;
    hapi.fpGetProcAddress = entryGetProcAddress;
    hapi.fpFreeLibrary = entryFreeLibrary;
    hapi.fpGetProfileString = entryGetProfileString;
    hapi.fpOpenStream = entryOpenStream;
    hapi.allocator = QLAllocator{entryAlloc, entryFree, entryRealloc, entryReallocZero};
    hapi.fpDupString = entryDupString;
    hapi.fpConvertCharset = entryConvertCharset;
    hapi.fpIsLeadByte = entryIsLeadByte;
    hapi.nDateOrder = static_cast<int32_t>(options.dateOrder);
    hapi.b24Hour = options.b24Hour ? 1 : 0;
    hapi.fpFormatDateTime = entryFormatDateTime;
    hapi.fpTimeToFILETIME = entryTimeToFILETIME;
    hapi.pszTempDir = tempDir_.c_str();
    hapi.pszHostDir = hostDir_.c_str();
    table_->host = this;
}

Host::~Host() = default;

QLHAPI *Host::services() {
    return &table_->hapi;
}

Host &Host::fromServices(QLHAPI *pHAPI) {
    return *reinterpret_cast<Table *>(pHAPI)->host;
}

void Host::setLibraryDirectory(std::filesystem::path directory) {
    libraryDir_ = std::move(directory);
}

void Host::setHostDirectory(std::string directory) {
    hostDir_ = withSeparator(std::move(directory));
    table_->hapi.pszHostDir = hostDir_.c_str();
}

void Host::setTempDirectory(std::string directory) {
    tempDir_ = std::move(directory);
    table_->hapi.pszTempDir = tempDir_.c_str();
}

void Host::setDateSettings(DateOrder order, bool b24Hour) {
    table_->hapi.nDateOrder = static_cast<int32_t>(order);
    table_->hapi.b24Hour = b24Hour ? 1 : 0;
}

// The reader names libraries in UTF-8, as it names every path; a name that is not UTF-8 is taken as
// the system's narrow text.
std::filesystem::path Host::libraryPath(const std::string &name) const {
    const auto pathOf = [](const std::string &text) {
        std::filesystem::path path;
        if (!pathFromUtf8(text, path))
            path = std::filesystem::path(text);
        return path;
    };
    std::filesystem::path path = pathOf(name);
    if (path.is_absolute())
        return path;
    std::filesystem::path file = pathOf(platformLibraryName(name));
    return libraryDir_.empty() ? file : libraryDir_ / file;
}

std::string Host::lastLibraryError() const {
    std::lock_guard lock(errorMutex_);
    return libraryError_;
}

void Host::noteLibraryError(std::string error) {
    std::lock_guard lock(errorMutex_);
    libraryError_ = std::move(error);
}

// An empty value counts as absent: the call then returns 0 with the default in the buffer. The
// reader cannot tell an empty value from a missing key, and for each of its options an empty value
// means what the missing key means (the default).
int Host::profileString(const char *pszSection, const char *pszKey, const char *pszDefault, char *pszBuffer,
                        uint32_t cbBuffer) const {
    if (pszBuffer == nullptr || cbBuffer == 0)
        return 0;
    std::optional<std::string> value;
    if (pszSection != nullptr && pszKey != nullptr)
        value = config_.get(pszSection, pszKey);
    bool bPresent = value.has_value() && !value->empty();
    std::string_view text =
        bPresent ? std::string_view(*value) : std::string_view(pszDefault ? pszDefault : "");
    size_t cch = std::min<size_t>(text.size(), cbBuffer - 1);
    std::memcpy(pszBuffer, text.data(), cch);
    pszBuffer[cch] = '\0';
    return bPresent ? 1 : 0;
}

char *Host::dupString(const char *psz) {
    if (psz == nullptr)
        return nullptr;
    size_t cch = std::strlen(psz);
    if (cch >= kMaxBlockSize)
        return nullptr;
    auto *pszCopy = static_cast<char *>(allocator_->allocate(static_cast<uint32_t>(cch + 1)));
    if (pszCopy != nullptr)
        std::memcpy(pszCopy, psz, cch + 1);
    return pszCopy;
}

} // namespace quillon
