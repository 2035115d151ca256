#include "sim/flash_timing.h"

namespace varnel::sim {

namespace {

constexpr uint64_t kSectorBytes = 0x10000;

}  // namespace

std::chrono::nanoseconds FlashCost(const FlashTiming& timing, const FlashWork& work) {
    using std::chrono::microseconds;
    using std::chrono::nanoseconds;
    // 64-bit products: the largest request (2042 bytes programmed, every
    // sector erased) stays far below their range.
    return microseconds(uint64_t{timing.perRequestMicroseconds}) +
           nanoseconds(uint64_t{timing.perByteReadNanoseconds} * work.bytesRead) +
           nanoseconds(uint64_t{timing.perByteProgrammedNanoseconds} * work.bytesProgrammed) +
           microseconds(uint64_t{timing.perSectorErasedMicroseconds} * work.sectorsErased);
}

uint32_t SectorEraseLog::Write(uint32_t address, uint32_t count) {
    if (count == 0) return 0;
    const uint64_t last = uint64_t{address} + count - 1;
    uint32_t erased = 0;
    for (uint64_t base = address & ~(kSectorBytes - 1); base <= last; base += kSectorBytes)
        if (m_erased.insert(static_cast<uint32_t>(base)).second) ++erased;
    return erased;
}

}  // namespace varnel::sim
