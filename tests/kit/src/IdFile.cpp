#include "tessel/kit/IdFile.h"

#include "tessel/kit/Bytes.h"

#include <fstream>
#include <initializer_list>
#include <span>
#include <stdexcept>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#else
#include <openssl/evp.h>
#include <openssl/rand.h>
#endif

namespace tessel::kit {

Salt randomSalt() {
    Salt salt{};
#ifdef _WIN32
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, salt.data(), static_cast<ULONG>(salt.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw std::runtime_error("BCryptGenRandom failed");
#else
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        throw std::runtime_error("RAND_bytes failed");
#endif
    return salt;
}

Salt seededSalt(Random &random) {
    Salt salt{};
    random.fill(salt);
    return salt;
}

// SHA-256 of the parts one after the other, as 64 lower-case hex digits.
static std::string sha256Of(std::initializer_list<std::span<const std::uint8_t>> parts) {
#ifdef _WIN32
    // Windows has SHA-256 in its CNG library, as the emulated runtime there uses it.
    unsigned char digest[32];
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    for (const auto part : parts)
        ok = ok && BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(part.data()),
                                                 static_cast<ULONG>(part.size()), 0));
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        throw std::runtime_error("SHA-256 failed");
    return hexLower({digest, sizeof digest});
#else
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    for (const auto part : parts)
        ok = ok && EVP_DigestUpdate(ctx, part.data(), part.size()) == 1;
    ok = ok && EVP_DigestFinal_ex(ctx, digest, &length) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok || length != 32)
        throw std::runtime_error("SHA-256 failed");
    return hexLower({digest, length});
#endif
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    return sha256Of({bytes});
}

std::string passwordHash(const Salt &salt, std::string_view password) {
    return sha256Of({salt, {reinterpret_cast<const std::uint8_t *>(password.data()), password.size()}});
}

std::string idFileText(std::string_view canonicalName, std::string_view password, const Salt &salt) {
    if (canonicalName.empty() || canonicalName.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("ID file user name must be one non-empty line");
    std::string text = "TESSEL-EMU-ID 1\n";
    text += canonicalName;
    text += '\n';
    text += hexLower(salt);
    text += '\n';
    text += passwordHash(salt, password);
    text += '\n';
    return text;
}

void writeIdFile(const std::filesystem::path &path, std::string_view canonicalName, std::string_view password,
                 const Salt &salt) {
    const std::string text = idFileText(canonicalName, password, salt);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write ID file " + path.string());
}

} // namespace tessel::kit
