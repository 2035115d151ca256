#pragma once
// The SHA-256 of a file (or of bytes in memory): from libmd on POSIX
// systems, from the program's own sha256.h on Windows (every release).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// Files longer than this are not digested: no file Varnel reads comes near.
inline constexpr uint64_t kDigestMaxBytes = uint64_t{64} << 20;

// The SHA-256 of a file's bytes as 64 lower-case hex digits; nothing when
// the file cannot be read, is not a regular file (a device, a FIFO) or is
// longer than `maxBytes`.
std::optional<std::string> FileSha256(const std::string& path, uint64_t maxBytes = kDigestMaxBytes);

// The SHA-256 of bytes in memory, the same way (always a digest; optional
// for the callers written when a system could lack one).
std::optional<std::string> Sha256(std::string_view bytes);

inline std::string HexDigits(const unsigned char* bytes, size_t count) {
    static const char* const kDigits = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace varnel
