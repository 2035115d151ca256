#pragma once
// SHA-256 (FIPS 180-4) in plain C++, for the systems whose own libraries
// lack it: Windows before XP SP3 has no SHA-256 in CryptoAPI, and the
// library Debian builds for Windows imports calls those releases lack.
// The same digests as libmd's, which the tests compare.

#include <cstddef>
#include <cstdint>

namespace varnel {

class Sha256Context {
public:
    static constexpr size_t kDigestBytes = 32;

    Sha256Context();
    void Update(const uint8_t* data, size_t size);
    // The digest; the context is spent.
    void Final(uint8_t digest[kDigestBytes]);

private:
    void Block(const uint8_t* block);

    uint32_t m_state[8];
    uint64_t m_bytes = 0;  // bytes taken so far
    uint8_t m_buffer[64];
    size_t m_buffered = 0;
};

}  // namespace varnel
