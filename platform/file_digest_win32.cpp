// FileSha256 on Windows, with the system's CryptoAPI (advapi32). Systems
// whose providers lack SHA-256 give no digest, and the record says so (null).

#include "platform/file_digest.h"

#include <windows.h>
// (after windows.h)
#include <wincrypt.h>

#include "platform/input_file.h"

#include <algorithm>

namespace varnel {

namespace {

// One SHA-256 computation with CryptoAPI, its handles released at scope exit.
class Sha256Hash {
public:
    Sha256Hash() {
        if (!::CryptAcquireContextA(&m_provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
            !::CryptCreateHash(m_provider, CALG_SHA_256, 0, 0, &m_hash))
            m_failed = true;
    }
    ~Sha256Hash() {
        if (m_hash) ::CryptDestroyHash(m_hash);
        if (m_provider) ::CryptReleaseContext(m_provider, 0);
    }
    Sha256Hash(const Sha256Hash&) = delete;
    Sha256Hash& operator=(const Sha256Hash&) = delete;

    void Add(const char* data, size_t size) {
        // CryptHashData takes at most a DWORD's worth at a time.
        for (size_t hashed = 0; hashed < size && !m_failed;) {
            const DWORD n = static_cast<DWORD>(std::min<size_t>(size - hashed, 1u << 30));
            if (!::CryptHashData(m_hash, reinterpret_cast<const BYTE*>(data + hashed), n, 0)) m_failed = true;
            hashed += n;
        }
    }
    std::optional<std::string> Digest() {
        BYTE digest[32];
        DWORD length = sizeof digest;
        if (m_failed || !::CryptGetHashParam(m_hash, HP_HASHVAL, digest, &length, 0)) return std::nullopt;
        return HexDigits(digest, length);
    }

private:
    HCRYPTPROV m_provider = 0;
    HCRYPTHASH m_hash = 0;
    bool m_failed = false;
};

}  // namespace

std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes) {
    CInputFile in;
    if (!in.Open(path, maxBytes)) return std::nullopt;
    Sha256Hash hash;
    char buffer[65536];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        hash.Add(buffer, static_cast<size_t>(n));
    }
    return hash.Digest();
}

std::optional<std::string> Sha256(std::string_view bytes) {
    Sha256Hash hash;
    hash.Add(bytes.data(), bytes.size());
    return hash.Digest();
}

}  // namespace varnel
