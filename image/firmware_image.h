#pragma once
// A firmware image in memory: the bytes to be written into the card, keyed
// by card address, plus the execution address.
//
// Bytes live in one stream of 2048-byte chunks; blocks are descriptors into
// that stream, each a run of consecutive card addresses, kept in the order
// their data arrived (never sorted or merged). Storage grows one chunk at a
// time, so nothing already stored ever moves.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace varnel {

struct CImageBlock {
    uint16_t chunk = 0;    // chunk of the block's first byte
    uint32_t offset = 0;   // its offset in that chunk (2048 = offset 0 of the next chunk)
    uint32_t length = 0;   // bytes in the block
    uint32_t address = 0;  // card address of the first byte
};

class CFirmwareImage {
public:
    static constexpr uint32_t kChunkSize = 2048;
    static constexpr uint16_t kChunkSlots = 256;
    // An append is refused once the chunk being filled has this index.
    static constexpr uint16_t kAppendChunkLimit = 100;
    // Block 0 is never used: blocks are numbered 1 to 255.
    static constexpr uint16_t kBlockSlots = 256;

    CFirmwareImage();
    ~CFirmwareImage();
    CFirmwareImage(const CFirmwareImage&) = delete;
    CFirmwareImage& operator=(const CFirmwareImage&) = delete;

    // Forgets blocks and cursor without freeing chunks; keeps m_startAddress.
    void Reset();
    // Frees the chunks in use, then Reset.
    void Clear();

    // Stores length bytes at address, extending the last block when address
    // follows on from it, else opening a new block. False on a zero length,
    // at the append limit, when a 256th block would be needed (nothing is
    // stored then) or when a chunk cannot be allocated.
    bool AppendData(const uint8_t* bytes, uint32_t address, uint16_t length);

    // Overwrites bytes in place; every address of the range must already be
    // in the image, else nothing is written and the result is false. Every
    // block holding an address gets the new byte.
    bool WriteData(const uint8_t* bytes, uint32_t address, uint16_t length);

    // The lowest-numbered block holding address (or only block `restriction`
    // when that is not 0).
    bool FindAddress(uint32_t address, uint16_t& block, uint32_t& offsetInBlock, uint16_t& chunk, uint32_t& chunkOffset,
                     uint16_t restriction = 0) const;

    // Puts the read cursor at the start; returns the block count.
    uint16_t Rewind();
    // Hands out the next piece: never spanning two blocks, at most `maximum`
    // bytes, never crossing a multiple of `boundary` (0 = no boundary).
    // False once the image is exhausted.
    bool ReadNext(uint8_t* buffer, uint32_t& address, uint16_t& length, uint16_t maximum, uint32_t boundary);
    // How many pieces ReadNext delivers from the start with the same limits.
    uint16_t CountPieces(uint16_t maximum, uint32_t boundary) const;

    uint16_t BlockCount() const { return m_blockCount; }
    const CImageBlock& Block(uint16_t number) const { return m_blocks[number]; }
    // A copy of one block's bytes (block numbers 1 to BlockCount()).
    std::vector<uint8_t> BlockBytes(uint16_t number) const;
    // Total bytes in all blocks.
    uint32_t ByteCount() const;

    // Set directly by the S-record reader.
    uint32_t m_startAddress = 0;
    uint32_t m_hasStartAddress = 0;

private:
    bool AllocateChunk(uint16_t index);
    bool OpenBlock(uint32_t address);

    uint16_t m_fillChunk = 0;
    uint32_t m_fillOffset = 0;
    uint16_t m_blockCount = 0;
    uint16_t m_readChunk = 0;
    uint32_t m_readOffset = 0;
    uint16_t m_readBlock = 1;
    uint32_t m_readBlockOffset = 0;
    std::array<std::unique_ptr<uint8_t[]>, kChunkSlots> m_chunks;
    std::array<CImageBlock, kBlockSlots> m_blocks{};
};

}  // namespace varnel
