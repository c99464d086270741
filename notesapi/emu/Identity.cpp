#include "Identity.h"

#include "Log.h"
#include "Runtime.h"

#include <notes/secerr.h>

#include "Platform.h"

#ifndef _WIN32
#include <openssl/evp.h>
#endif

#include <mutex>
#include <optional>

namespace notesemu {
namespace {

constexpr std::string_view kMagic = "TESSEL-EMU-ID 1";
// ID files are a few hundred bytes; anything much larger is not one.
constexpr std::uintmax_t kMaxIdFileSize = 64 * 1024;

struct SwitchedIdentity {
    std::mutex mutex;
    std::optional<std::string> user;
};

SwitchedIdentity &switched() {
    static SwitchedIdentity state;
    return state;
}

bool parseHex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != out.size() * 2)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        out[i / 2] = static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : out[i / 2] | digit);
    }
    return true;
}

#ifdef _WIN32
// SHA-256 of salt || password; nullopt (logged) when the system cannot compute it.
std::optional<std::array<std::uint8_t, 32>> sha256(std::span<const std::uint8_t> salt,
                                                   std::string_view password) {
    auto digest = systemSha256(salt, password);
    if (!digest)
        logLine("SHA-256 is not available from the system (CNG); no password can be checked");
    return digest;
}
#else
// SHA-256 of salt || password; nullopt (logged) when OpenSSL cannot compute it.
std::optional<std::array<std::uint8_t, 32>> sha256(std::span<const std::uint8_t> salt,
                                                   std::string_view password) {
    std::array<std::uint8_t, 32> digest{};
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    unsigned int length = 0;
    const bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(context, salt.data(), salt.size()) == 1 &&
                    EVP_DigestUpdate(context, password.data(), password.size()) == 1 &&
                    EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == digest.size();
    EVP_MD_CTX_free(context);
    if (!ok) {
        logLine("SHA-256 is not available from OpenSSL; no password can be checked");
        return std::nullopt;
    }
    return digest;
}
#endif

std::filesystem::path idFileFromEnvironment() {
    Runtime &runtime = Runtime::instance();
    std::optional<std::string> name = runtime.environmentValue("KeyFileName");
    if (!name || name->empty())
        name = runtime.environmentValue("ServerKeyFileName");
    if (!name || name->empty())
        return {};
    std::filesystem::path path;
    if (!pathFromText(*name, path)) {
        logf("The ID file notes.ini names, %s, is neither in the code page nor in UTF-8", name->c_str());
        return {};
    }
    if (name->find_first_of("/\\") == std::string::npos) {
        std::filesystem::path directory;
        if (const auto value = runtime.environmentValue("Directory");
            value && !value->empty() && pathFromText(*value, directory))
            path = directory / path;
    }
    return path;
}

} // namespace

STATUS readIdFile(const std::filesystem::path &path, IdFile &file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        logf("ID file %s cannot be read: %s", pathText(path).c_str(), error.message().c_str());
        return ERR_SECURE_NOKEYFILE;
    }
    if (size > kMaxIdFileSize) {
        logf("ID file %s is not an ID file of the emulated runtime (%ju bytes)", pathText(path).c_str(),
             size);
        return ERR_SECURE_NOKEYFILE;
    }
    std::string text;
    if (!readWholeFile(path, text, kMaxIdFileSize)) {
        logf("ID file %s cannot be read", pathText(path).c_str());
        return ERR_SECURE_NOKEYFILE;
    }
    std::string_view rest = text;
    std::array<std::string_view, 4> lines;
    for (std::string_view &line : lines) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            logf("ID file %s is not an ID file of the emulated runtime (fewer than four lines)",
                 pathText(path).c_str());
            return ERR_SECURE_NOKEYFILE;
        }
        line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    if (lines[0] != kMagic || lines[1].empty() || !rest.empty() || !parseHex(lines[2], file.salt) ||
        !parseHex(lines[3], file.hash)) {
        logf("ID file %s is not an ID file of the emulated runtime", pathText(path).c_str());
        return ERR_SECURE_NOKEYFILE;
    }
    file.userName = lines[1];
    return NOERROR;
}

// Compares in a time that does not depend on where the digests differ.
bool sameDigest(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size())
        return false;
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
    return difference == 0;
}

bool passwordMatches(const IdFile &file, std::string_view password) {
    const auto digest = sha256(file.salt, password);
    return digest && sameDigest(*digest, file.hash);
}

std::string currentUser() {
    {
        SwitchedIdentity &state = switched();
        std::lock_guard lock(state.mutex);
        if (state.user)
            return *state.user;
    }
    const std::filesystem::path path = idFileFromEnvironment();
    if (path.empty())
        return std::string(kAnonymous);
    IdFile file;
    if (readIdFile(path, file) != NOERROR) {
        logf("Working as %s: the ID file notes.ini names cannot be used", std::string(kAnonymous).c_str());
        return std::string(kAnonymous);
    }
    return file.userName;
}

STATUS switchIdentity(const std::filesystem::path &path, std::string_view password, std::string &userName) {
    IdFile file;
    if (const STATUS status = readIdFile(path, file); status != NOERROR)
        return status;
    if (!passwordMatches(file, password)) {
        logf("Wrong password for ID file %s", pathText(path).c_str());
        return ERR_SECURE_BADPASSWORD;
    }
    SwitchedIdentity &state = switched();
    std::lock_guard lock(state.mutex);
    state.user = file.userName;
    userName = file.userName;
    return NOERROR;
}

void resetIdentity() {
    SwitchedIdentity &state = switched();
    std::lock_guard lock(state.mutex);
    state.user.reset();
}

} // namespace notesemu
