// The Windows programs' own SHA-256 gives libmd's digests (those the Linux
// program records), for every length around the block and padding edges,
// fed whole or in pieces.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/file_digest.h"

namespace varnel {
namespace {

std::string Own(const std::string& bytes, size_t piece) {
    Sha256Context context;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t n = std::min(piece, bytes.size() - at);
        context.Update(reinterpret_cast<const uint8_t*>(bytes.data() + at), n);
    }
    uint8_t digest[Sha256Context::kDigestBytes];
    context.Final(digest);
    return HexDigits(digest, sizeof digest);
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Own("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Own("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Own("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Own(std::string(1000000, 'a'), 4096), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, SameAsLibmdAtEveryLengthAndPiece) {
    std::string bytes;
    uint32_t x = 12345;
    for (size_t length = 0; length <= 300; ++length) {
        const std::string want = *Sha256(bytes);
        for (const size_t piece : {size_t{1}, size_t{3}, size_t{55}, size_t{64}, size_t{65}, size_t{1000}})
            ASSERT_EQ(Own(bytes, piece), want) << "length " << length << ", pieces of " << piece;
        x = x * 1103515245u + 12345u;
        bytes += static_cast<char>(x >> 16);
    }
}

}  // namespace
}  // namespace varnel
