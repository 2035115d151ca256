// FileSha256 over Windows' CNG (bcrypt.dll).

#include "platform/file_digest.h"

#include <windows.h>
// (after windows.h)
#include <bcrypt.h>

#include <fstream>

namespace varnel {

std::optional<std::string> FileSha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::optional<std::string> result;
    if (BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        bool ok = true;
        char buffer[65536];
        while (ok && (in.read(buffer, sizeof buffer) || in.gcount() > 0)) {
            ok = BCRYPT_SUCCESS(::BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer),
                                                 static_cast<ULONG>(in.gcount()), 0));
            if (in.eof()) break;
        }
        unsigned char digest[32];
        if (ok && !in.bad() && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, sizeof digest, 0)))
            result = HexDigits(digest, sizeof digest);
        ::BCryptDestroyHash(hash);
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return result;
}

}  // namespace varnel
