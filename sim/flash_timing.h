#pragma once
// The simulated card's flash timing: what a request costs when the card
// answers like NOR flash behind a PC-card bus. A read costs its bytes moved
// over the bus; a write costs its bytes programmed, and the first write of a
// run into a 64 KiB sector costs that sector's erase as well. Everything
// here only counts: the machine sleeps for what it returns (sim_machine.cpp).

#include <chrono>
#include <cstdint>
#include <set>

namespace varnel::sim {

// The costs, with defaults that resemble a real card (the sources are named
// in docs/simulated-machine.md).
struct FlashTiming {
    uint32_t perRequestMicroseconds = 500;          // the driver's round trip to the card
    uint32_t perByteReadNanoseconds = 250;          // 16-bit PC-card I/O cycles, two bytes each
    uint32_t perByteProgrammedNanoseconds = 5500;   // word programming: about 11 us a 16-bit word
    uint32_t perSectorErasedMicroseconds = 700000;  // erasing one 64 KiB sector

    bool operator==(const FlashTiming&) const = default;
};

// What one request made the card do.
struct FlashWork {
    uint32_t bytesRead = 0;
    uint32_t bytesProgrammed = 0;
    uint32_t sectorsErased = 0;

    FlashWork& operator+=(const FlashWork& other) {
        bytesRead += other.bytesRead;
        bytesProgrammed += other.bytesProgrammed;
        sectorsErased += other.sectorsErased;
        return *this;
    }
    bool operator==(const FlashWork&) const = default;
};

// The time a request takes: its round trip plus the work it made the card do.
std::chrono::nanoseconds FlashCost(const FlashTiming& timing, const FlashWork& work);

// The sectors a run has erased. A run lasts until the card resets (the end
// of card access); the card erases a sector when the run first writes into
// it, and later writes of the run into the same sector program only.
class SectorEraseLog {
public:
    // The sectors a write of `count` bytes at `address` erases: those it
    // touches that the run has not erased yet (now recorded as erased).
    uint32_t Write(uint32_t address, uint32_t count);
    // The card reset: the next write starts a new run.
    void EndRun() { m_erased.clear(); }

private:
    std::set<uint32_t> m_erased;  // sector base addresses
};

}  // namespace varnel::sim
