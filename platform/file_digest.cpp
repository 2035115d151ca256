// FileSha256 over libmd, the small message digest library: the program
// starts without loading a whole cryptography library for one digest.

#include "platform/file_digest.h"

#include "platform/input_file.h"

#include <sha2.h>

namespace varnel {

std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes) {
    CInputFile in;
    if (!in.Open(path, maxBytes)) return std::nullopt;
    SHA2_CTX context;
    SHA256Init(&context);
    char buffer[65536];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        SHA256Update(&context, reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
    }
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256Final(digest, &context);
    return HexDigits(digest, sizeof digest);
}

std::optional<std::string> Sha256(std::string_view bytes) {
    SHA2_CTX context;
    SHA256Init(&context);
    SHA256Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256Final(digest, &context);
    return HexDigits(digest, sizeof digest);
}

}  // namespace varnel
