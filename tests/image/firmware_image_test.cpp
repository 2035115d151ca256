#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

namespace varnel {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

struct Piece {
    uint32_t address;
    uint16_t length;
    bool operator==(const Piece&) const = default;
};

std::vector<Piece> ReadAll(CFirmwareImage& image, uint16_t maximum, uint32_t boundary,
                           std::vector<uint8_t>* data = nullptr) {
    std::vector<Piece> pieces;
    std::vector<uint8_t> buffer(maximum);
    image.Rewind();
    Piece p{};
    while (image.ReadNext(buffer.data(), p.address, p.length, maximum, boundary)) {
        pieces.push_back(p);
        if (data) data->insert(data->end(), buffer.begin(), buffer.begin() + p.length);
    }
    return pieces;
}

TEST(FirmwareImage, AppendExtendsTheLastBlockOrOpensANewOne) {
    CFirmwareImage image;
    const auto bytes = Bytes(0x10);
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1000, 0x10));
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1010, 0x10));
    EXPECT_EQ(image.BlockCount(), 1);
    EXPECT_EQ(image.Block(1).length, 0x20u);

    // The same addresses again, then a lower address: new blocks, not sorted.
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1000, 0x10));
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x0800, 0x10));
    ASSERT_EQ(image.BlockCount(), 3);
    EXPECT_EQ(image.Block(2).address, 0x1000u);
    EXPECT_EQ(image.Block(3).address, 0x0800u);

    // Lookups take the lowest-numbered block holding the address.
    uint16_t block, chunk;
    uint32_t offset, chunkOffset;
    ASSERT_TRUE(image.FindAddress(0x1004, block, offset, chunk, chunkOffset));
    EXPECT_EQ(block, 1);
    ASSERT_TRUE(image.FindAddress(0x1004, block, offset, chunk, chunkOffset, 2));
    EXPECT_EQ(block, 2);
    EXPECT_EQ(chunkOffset, 0x24u);
    EXPECT_FALSE(image.FindAddress(0x1014, block, offset, chunk, chunkOffset, 2));
}

TEST(FirmwareImage, RefusedAppendsStoreNothing) {
    CFirmwareImage image;
    const auto bytes = Bytes(250);
    EXPECT_FALSE(image.AppendData(bytes.data(), 0, 0));
    EXPECT_EQ(image.BlockCount(), 0);

    // 255 blocks fit; a 256th is refused without storing anything.
    for (uint32_t i = 0; i < 255; ++i) ASSERT_TRUE(image.AppendData(bytes.data(), i * 0x100, 1));
    EXPECT_FALSE(image.AppendData(bytes.data(), 0x10000, 1));
    EXPECT_EQ(image.BlockCount(), 255);
    EXPECT_EQ(image.ByteCount(), 255u);
    // Extending the last block still works.
    EXPECT_TRUE(image.AppendData(bytes.data(), 254 * 0x100 + 1, 1));
}

TEST(FirmwareImage, AppendLimitIsReachedAtChunkOneHundred) {
    CFirmwareImage image;
    const auto bytes = Bytes(250);
    uint32_t address = 0;
    while (image.AppendData(bytes.data(), address, 250)) address += 250;
    // The limit is checked before an append: the last accepted append began
    // in chunk 99 and may run into chunk 100.
    EXPECT_GE(image.ByteCount(), CFirmwareImage::kAppendChunkLimit * CFirmwareImage::kChunkSize);
    EXPECT_LT(image.ByteCount(), CFirmwareImage::kAppendChunkLimit * CFirmwareImage::kChunkSize + 250);
    EXPECT_EQ(image.ByteCount(), address);
}

TEST(FirmwareImage, BlocksRunOnAcrossChunks) {
    CFirmwareImage image;
    const auto first = Bytes(2048, 0);
    const auto second = Bytes(16, 0x80);
    ASSERT_TRUE(image.AppendData(first.data(), 0, 2048));
    ASSERT_TRUE(image.AppendData(second.data(), 0x10000, 16));
    // The second block starts right after a full chunk.
    EXPECT_EQ(image.Block(2).chunk, 0);
    EXPECT_EQ(image.Block(2).offset, 2048u);
    uint16_t block, chunk;
    uint32_t offset, chunkOffset;
    ASSERT_TRUE(image.FindAddress(0x10000, block, offset, chunk, chunkOffset));
    EXPECT_EQ(chunk, 1);
    EXPECT_EQ(chunkOffset, 0u);

    std::vector<uint8_t> data;
    const auto pieces = ReadAll(image, 2042, 0x10000, &data);
    EXPECT_EQ(pieces, (std::vector<Piece>{{0, 2042}, {2042, 6}, {0x10000, 16}}));
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(data, expected);
}

TEST(FirmwareImage, PiecesKeepToMaximumBoundaryAndBlocks) {
    struct Case {
        uint32_t address;
        uint16_t length;
        uint16_t maximum;
        uint32_t boundary;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {0xFFF0, 0x20, 2042, 0x10000, {{0xFFF0, 0x10}, {0x10000, 0x10}}},
        {0x0000, 5000, 2042, 0, {{0, 2042}, {2042, 2042}, {4084, 916}}},
        {0x0000, 2042, 2042, 0x10000, {{0, 2042}}},
        {0xFFFF, 1, 2042, 0x10000, {{0xFFFF, 1}}},
    };
    for (const Case& c : cases) {
        CFirmwareImage image;
        const auto bytes = Bytes(c.length);
        ASSERT_TRUE(image.AppendData(bytes.data(), c.address, c.length));
        EXPECT_EQ(ReadAll(image, c.maximum, c.boundary), c.pieces) << "block at " << c.address;
        EXPECT_EQ(image.CountPieces(c.maximum, c.boundary), c.pieces.size());
    }
}

TEST(FirmwareImage, ReadOutMatchesTheBlocksForRandomImages) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        CFirmwareImage image;
        std::vector<uint8_t> expected;
        const int blocks = 1 + static_cast<int>(random() % 20);
        for (int b = 0; b < blocks; ++b) {
            const uint32_t address = random() % 0x200000;
            const auto length = static_cast<uint16_t>(1 + random() % 9000);
            std::vector<uint8_t> bytes(length);
            for (auto& x : bytes) x = static_cast<uint8_t>(random());
            if (!image.AppendData(bytes.data(), address, length)) break;
            expected.insert(expected.end(), bytes.begin(), bytes.end());
        }
        const auto maximum = static_cast<uint16_t>(1 + random() % 2042);
        const uint32_t boundary = (round % 2) ? 0x10000 : 0x400;
        std::vector<uint8_t> data;
        const auto pieces = ReadAll(image, maximum, boundary, &data);
        EXPECT_EQ(data, expected);
        EXPECT_EQ(image.CountPieces(maximum, boundary), pieces.size());
        for (const Piece& p : pieces) {
            EXPECT_LE(p.length, maximum);
            EXPECT_EQ(p.address / boundary, (p.address + p.length - 1) / boundary) << "crosses a boundary";
        }
    }
}

TEST(FirmwareImage, WriteDataNeedsTheWholeRangeInTheImage) {
    CFirmwareImage image;
    const auto bytes = Bytes(0x10);
    // Two adjacent blocks: 0x1010..0x101F first, then 0x1000..0x100F.
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1010, 0x10));
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1000, 0x10));
    const std::vector<uint8_t> patch(0x10, 0xEE);
    EXPECT_TRUE(image.WriteData(patch.data(), 0x1008, 0x10));
    EXPECT_EQ(image.BlockBytes(1)[7], 0xEE);
    EXPECT_EQ(image.BlockBytes(1)[8], 8);
    EXPECT_EQ(image.BlockBytes(2)[8], 0xEE);

    // One byte past the last block: nothing is written.
    const auto before1 = image.BlockBytes(1);
    const auto before2 = image.BlockBytes(2);
    const std::vector<uint8_t> other(0x11, 0x55);
    EXPECT_FALSE(image.WriteData(other.data(), 0x1010, 0x11));
    EXPECT_EQ(image.BlockBytes(1), before1);
    EXPECT_EQ(image.BlockBytes(2), before2);
}

TEST(FirmwareImage, WriteDataChangesEveryBlockHoldingTheAddress) {
    CFirmwareImage image;
    const auto bytes = Bytes(0x10);
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1000, 0x10));
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x1008, 0x10));  // overlaps the first
    const uint8_t patch[2] = {0xDE, 0xC0};
    ASSERT_TRUE(image.WriteData(patch, 0x100A, 2));
    EXPECT_EQ(image.BlockBytes(1)[0xA], 0xDE);
    EXPECT_EQ(image.BlockBytes(2)[2], 0xDE);
    EXPECT_EQ(image.BlockBytes(2)[3], 0xC0);
}

TEST(FirmwareImage, ClearEmptiesAndKeepsTheStartAddress) {
    CFirmwareImage image;
    const auto bytes = Bytes(3000);
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x100, 3000));
    image.m_startAddress = 0x1234;
    image.m_hasStartAddress = 1;
    image.Clear();
    EXPECT_EQ(image.BlockCount(), 0);
    EXPECT_EQ(image.m_hasStartAddress, 0u);
    EXPECT_EQ(image.m_startAddress, 0x1234u);
    uint8_t buffer[16];
    uint32_t address;
    uint16_t length;
    EXPECT_FALSE(image.ReadNext(buffer, address, length, 16, 0));
    ASSERT_TRUE(image.AppendData(bytes.data(), 0x200, 10));
    EXPECT_EQ(image.BlockBytes(1), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10));
}

}  // namespace
}  // namespace varnel
