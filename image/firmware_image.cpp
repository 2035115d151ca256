#include "image/firmware_image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel {

CFirmwareImage::CFirmwareImage() { Reset(); }

CFirmwareImage::~CFirmwareImage() { Clear(); }

void CFirmwareImage::Reset() {
    m_fillChunk = 0;
    m_fillOffset = 0;
    m_blockCount = 0;
    m_readChunk = 0;
    m_readOffset = 0;
    m_readBlockOffset = 0;
    m_readBlock = 1;
    m_hasStartAddress = 0;
}

void CFirmwareImage::Clear() {
    if (m_blockCount == 0) return;
    for (uint16_t i = 0; i <= m_fillChunk; ++i) m_chunks[i].reset();
    Reset();
}

bool CFirmwareImage::AllocateChunk(uint16_t index) {
    if (m_chunks[index]) return true;
    // A failed allocation is a false result, never an exception.
    m_chunks[index].reset(new (std::nothrow) uint8_t[kChunkSize]);
    return m_chunks[index] != nullptr;
}

bool CFirmwareImage::OpenBlock(uint32_t address) {
    if (m_blockCount + 1 >= kBlockSlots) return false;
    CImageBlock& block = m_blocks[++m_blockCount];
    block.address = address;
    block.chunk = m_fillChunk;
    block.offset = m_fillOffset;
    block.length = 0;
    return true;
}

bool CFirmwareImage::AppendData(const uint8_t* bytes, uint32_t address, uint16_t length) {
    if (m_fillChunk >= kAppendChunkLimit || length == 0) return false;
    if (m_blockCount == 0) {
        if (!AllocateChunk(0)) return false;
        m_fillOffset = 0;
        OpenBlock(address);
    } else {
        const CImageBlock& last = m_blocks[m_blockCount];
        if (address != last.address + last.length && !OpenBlock(address)) return false;
    }
    CImageBlock& block = m_blocks[m_blockCount];
    uint32_t done = 0;
    while (done < length) {
        if (m_fillOffset >= kChunkSize) {
            if (m_fillChunk + 1 >= kChunkSlots || !AllocateChunk(static_cast<uint16_t>(m_fillChunk + 1))) return false;
            ++m_fillChunk;
            m_fillOffset = 0;
        }
        const uint32_t n = std::min<uint32_t>(length - done, kChunkSize - m_fillOffset);
        std::memcpy(m_chunks[m_fillChunk].get() + m_fillOffset, bytes + done, n);
        m_fillOffset += n;
        block.length += n;
        done += n;
    }
    return true;
}

bool CFirmwareImage::FindAddress(uint32_t address, uint16_t& block, uint32_t& offsetInBlock, uint16_t& chunk,
                                 uint32_t& chunkOffset, uint16_t restriction) const {
    const uint16_t first = restriction ? restriction : 1;
    const uint16_t last = restriction ? restriction : m_blockCount;
    if (restriction > m_blockCount) return false;
    for (uint16_t n = first; n <= last && n != 0; ++n) {
        const CImageBlock& b = m_blocks[n];
        if (b.address <= address && uint64_t{address} < uint64_t{b.address} + b.length) {
            block = n;
            offsetInBlock = address - b.address;
            const uint32_t streamOffset = b.offset + offsetInBlock;
            chunk = static_cast<uint16_t>(b.chunk + streamOffset / kChunkSize);
            chunkOffset = streamOffset % kChunkSize;
            return true;
        }
    }
    return false;
}

bool CFirmwareImage::WriteData(const uint8_t* bytes, uint32_t address, uint16_t length) {
    // Coverage: every address of the range must lie in some block.
    uint64_t current = address;
    uint64_t outstanding = length;
    while (outstanding > 0) {
        uint16_t block, chunk;
        uint32_t offsetInBlock, chunkOffset;
        if (current > UINT32_MAX ||
            !FindAddress(static_cast<uint32_t>(current), block, offsetInBlock, chunk, chunkOffset))
            break;
        const uint64_t available = m_blocks[block].length - offsetInBlock;
        if (available >= outstanding) {
            outstanding = 0;
        } else {
            outstanding -= available;
            current += available;
        }
    }
    if (outstanding > 0) return false;

    const uint64_t end = uint64_t{address} + length;
    for (uint16_t n = 1; n <= m_blockCount; ++n) {
        const CImageBlock& b = m_blocks[n];
        const uint64_t blockEnd = uint64_t{b.address} + b.length;
        if (!(blockEnd > address && b.address < end)) continue;
        const uint64_t from = std::max<uint64_t>(address, b.address);
        const uint64_t to = std::min(end, blockEnd);
        uint16_t block = 0, chunk = 0;
        uint32_t offsetInBlock = 0, chunkOffset = 0;
        FindAddress(static_cast<uint32_t>(from), block, offsetInBlock, chunk, chunkOffset, n);
        for (uint64_t a = from; a < to; ++a) {
            if (chunkOffset >= kChunkSize) {
                ++chunk;
                chunkOffset = 0;
            }
            m_chunks[chunk][chunkOffset++] = bytes[a - address];
        }
    }
    return true;
}

uint16_t CFirmwareImage::Rewind() {
    m_readBlock = 1;
    m_readChunk = 0;
    m_readOffset = 0;
    m_readBlockOffset = 0;
    return m_blockCount;
}

bool CFirmwareImage::ReadNext(uint8_t* buffer, uint32_t& address, uint16_t& length, uint16_t maximum,
                              uint32_t boundary) {
    if (m_blockCount == 0 || m_readBlock > m_blockCount || maximum == 0) return false;
    // Move past used-up blocks. The chunk position runs on in the stream:
    // blocks lie back to back.
    while (m_readBlockOffset >= m_blocks[m_readBlock].length) {
        if (m_readBlock >= m_blockCount) return false;
        ++m_readBlock;
        m_readBlockOffset = 0;
    }
    const CImageBlock& block = m_blocks[m_readBlock];
    address = block.address + m_readBlockOffset;
    uint32_t count = 0;
    while (m_readBlockOffset < block.length && count < maximum) {
        if (m_readOffset >= kChunkSize) {
            ++m_readChunk;
            m_readOffset = 0;
        }
        // Copy a run: up to the chunk's end, the block's end, the maximum
        // and the next boundary, whichever comes first.
        uint32_t n = std::min({kChunkSize - m_readOffset, block.length - m_readBlockOffset, maximum - count});
        if (boundary) {
            const uint32_t toBoundary = boundary - (address + count) % boundary;
            n = std::min(n, toBoundary);
        }
        std::memcpy(buffer + count, m_chunks[m_readChunk].get() + m_readOffset, n);
        m_readOffset += n;
        m_readBlockOffset += n;
        count += n;
        if (boundary && (address + count) % boundary == 0) break;
    }
    length = static_cast<uint16_t>(count);
    return true;
}

uint16_t CFirmwareImage::CountPieces(uint16_t maximum, uint32_t boundary) const {
    if (maximum == 0) return 0;
    uint32_t count = 0;
    for (uint16_t n = 1; n <= m_blockCount; ++n) {
        uint32_t a = m_blocks[n].address;
        uint32_t r = m_blocks[n].length;
        while (r > 0) {
            uint32_t step = maximum;
            if (boundary) step = std::min(step, boundary - a % boundary);
            step = std::min(step, r);
            r -= step;
            a += step;
            ++count;
        }
    }
    return static_cast<uint16_t>(count);
}

std::vector<uint8_t> CFirmwareImage::BlockBytes(uint16_t number) const {
    std::vector<uint8_t> bytes;
    if (number == 0 || number > m_blockCount) return bytes;
    const CImageBlock& b = m_blocks[number];
    bytes.reserve(b.length);
    uint32_t chunk = b.chunk + b.offset / kChunkSize;
    uint32_t offset = b.offset % kChunkSize;
    while (bytes.size() < b.length) {
        const uint32_t n = std::min<uint32_t>(kChunkSize - offset, b.length - static_cast<uint32_t>(bytes.size()));
        bytes.insert(bytes.end(), m_chunks[chunk].get() + offset, m_chunks[chunk].get() + offset + n);
        ++chunk;
        offset = 0;
    }
    return bytes;
}

uint32_t CFirmwareImage::ByteCount() const {
    uint32_t total = 0;
    for (uint16_t n = 1; n <= m_blockCount; ++n) total += m_blocks[n].length;
    return total;
}

}  // namespace varnel
