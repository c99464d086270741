// The Windows side of Platform.h. It includes no Notes header: windows.h and the Notes API
// declare some of the same type names differently.
#include "Platform.h"

#include <windows.h>

#include <bcrypt.h>

namespace notesemu {

std::optional<std::array<std::uint8_t, 32>> systemSha256(std::span<const std::uint8_t> salt,
                                                         std::string_view password) {
    std::array<std::uint8_t, 32> digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool ok =
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(salt.data()), static_cast<ULONG>(salt.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char *>(password.data())),
                                      static_cast<ULONG>(password.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        return std::nullopt;
    return digest;
}

} // namespace notesemu
