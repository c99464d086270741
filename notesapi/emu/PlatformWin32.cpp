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

bool windowsPath(std::string_view text, std::filesystem::path &path) {
    const auto convert = [text](UINT codePage, DWORD flags, std::wstring &wide) {
        if (text.empty())
            return true;
        const int cch =
            MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (cch <= 0)
            return false;
        wide.resize(static_cast<std::size_t>(cch));
        return MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                                   cch) == cch;
    };
    std::wstring ansi, utf8;
    const bool inCodePage = convert(CP_ACP, MB_ERR_INVALID_CHARS, ansi);
    const bool inUtf8 = convert(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
    std::error_code error;
    if (inCodePage && (!inUtf8 || std::filesystem::exists(ansi, error))) {
        path = ansi;
        return true;
    }
    if (inUtf8)
        path = utf8;
    return inUtf8;
}

} // namespace notesemu
