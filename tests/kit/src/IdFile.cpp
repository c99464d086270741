#include "tessel/kit/IdFile.h"

#include "tessel/kit/Bytes.h"

#include <fstream>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace tessel::kit {

Salt randomSalt() {
    Salt salt{};
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        throw std::runtime_error("RAND_bytes failed");
    return salt;
}

Salt seededSalt(Random &random) {
    Salt salt{};
    random.fill(salt);
    return salt;
}

std::string passwordHash(const Salt &salt, std::string_view password) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    const bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(ctx, salt.data(), salt.size()) == 1 &&
                    EVP_DigestUpdate(ctx, password.data(), password.size()) == 1 &&
                    EVP_DigestFinal_ex(ctx, digest, &length) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok || length != 32)
        throw std::runtime_error("SHA-256 failed");
    return hexLower({digest, length});
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
