// FileSha256 on Windows, with the program's own SHA-256 (sha256.h): the
// system's CryptoAPI has SHA-256 only from XP SP3 on, and the digests must be
// the same on every release.

#include "platform/file_digest.h"

#include "platform/input_file.h"
#include "platform/sha256.h"

namespace varnel {

std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes) {
    CInputFile in;
    if (!in.Open(path, maxBytes)) return std::nullopt;
    Sha256Context context;
    char buffer[65536];
    for (;;) {
        const std::ptrdiff_t n = in.Read(buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        context.Update(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
    }
    uint8_t digest[Sha256Context::kDigestBytes];
    context.Final(digest);
    return HexDigits(digest, sizeof digest);
}

std::optional<std::string> Sha256(std::string_view bytes) {
    Sha256Context context;
    context.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    uint8_t digest[Sha256Context::kDigestBytes];
    context.Final(digest);
    return HexDigits(digest, sizeof digest);
}

}  // namespace varnel
