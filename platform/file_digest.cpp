// FileSha256 over OpenSSL's libcrypto.

#include "platform/file_digest.h"

#include "platform/input_file.h"

#include <openssl/evp.h>

#include <memory>

namespace varnel {

std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes) {
    CInputFile in;
    if (!in.Open(path, maxBytes)) return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    char buffer[65536];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(n)) != 1) return std::nullopt;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
    return HexDigits(digest, length);
}

std::optional<std::string> Sha256(std::string_view bytes) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
    return HexDigits(digest, length);
}

}  // namespace varnel
