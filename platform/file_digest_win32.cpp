// FileSha256 on Windows, with the system's CryptoAPI (advapi32). Systems
// whose providers lack SHA-256 give no digest, and the record says so (null).

#include "platform/file_digest.h"

#include <windows.h>
// (after windows.h)
#include <wincrypt.h>

#include "platform/input_file.h"

#include <algorithm>

namespace varnel {

std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes) {
    CInputFile in;
    if (!in.Open(path, maxBytes)) return std::nullopt;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    const auto done = [&](std::optional<std::string> result) {
        if (hash) ::CryptDestroyHash(hash);
        if (provider) ::CryptReleaseContext(provider, 0);
        return result;
    };
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
        return done(std::nullopt);
    char buffer[65536];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return done(std::nullopt);
        if (n == 0) break;
        if (!::CryptHashData(hash, reinterpret_cast<const BYTE*>(buffer), static_cast<DWORD>(n), 0))
            return done(std::nullopt);
    }
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (!::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) return done(std::nullopt);
    return done(HexDigits(digest, length));
}

std::optional<std::string> Sha256(std::string_view bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    const auto done = [&](std::optional<std::string> result) {
        if (hash) ::CryptDestroyHash(hash);
        if (provider) ::CryptReleaseContext(provider, 0);
        return result;
    };
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
        return done(std::nullopt);
    // CryptHashData takes at most a DWORD's worth at a time.
    for (size_t hashed = 0; hashed < bytes.size();) {
        const DWORD n = static_cast<DWORD>(std::min<size_t>(bytes.size() - hashed, 1u << 30));
        if (!::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data() + hashed), n, 0)) return done(std::nullopt);
        hashed += n;
    }
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (!::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) return done(std::nullopt);
    return done(HexDigits(digest, length));
}

}  // namespace varnel
