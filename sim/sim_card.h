#pragma once
// One simulated card: its flash, the PDA copy it loaded at its last reset,
// and the firmware identities it runs. The card is its directory, and every
// process that opens the machine sees the same card: nothing is kept in
// memory between requests, every read reads the files as they are then, and
// every write goes to them before the request returns:
//   flash/XXXXXXXX.bin   64 KiB flash sectors by base address (a missing
//                        sector is erased flash: all 0xFF)
//   state.json           the PDA copy and identities loaded at the last reset

#include <array>
#include <filesystem>
#include <string>

#include "platform/result.h"
#include "sim/machine_config.h"

namespace varnel::sim {

inline constexpr uint32_t kSectorSize = 0x10000;

class SimCard {
public:
    // What the card loaded at its last reset.
    struct LoadedState {
        std::array<uint8_t, 0x400> ramPda{};
        FirmwareIdentity primary;
        FirmwareIdentity station;
    };

    // Reads nothing yet: each request reads what it needs.
    SimCard(const CardConfig& config, std::filesystem::path directory);

    const CardConfig& Config() const { return m_config; }
    uint32_t PdaAddress() const;

    // A failure, naming the file, when a file of the card's flash cannot be
    // a sector: not a regular file, or not exactly one sector long. Only the
    // file system is asked; nothing is read.
    Result<> CheckFlashFiles() const;

    // The card's own address decoding (a type-1 card ignores bits 17, 18).
    uint32_t Decode(uint32_t address) const;
    // Reads flash (NVRAM); fails past the end of the flash or when a sector
    // file cannot be read.
    Result<> ReadFlash(uint32_t address, uint8_t* out, uint32_t count);
    // Reads what the card holds in RAM: the PDA copy loaded at the last
    // reset inside the PDA area, the flash elsewhere.
    Result<> ReadRam(uint32_t address, uint8_t* out, uint32_t count);
    // Writes flash and saves the sector; fails when refused or not saved.
    Result<> WriteFlash(uint32_t address, const uint8_t* data, uint32_t count);

    // What the card loads at reset: the PDA copy and the firmware identities.
    Result<> Reset();
    // What the card loaded at its last reset; a card whose state is missing
    // or damaged resets first, as after a power cycle.
    Result<LoadedState> State();
    // The same, with the configured identities when the state is unreadable.
    FirmwareIdentity Primary();
    FirmwareIdentity Station();
    // The firmware text (RID 0xFFFF) of a Station firmware.
    std::string FirmwareText(const FirmwareIdentity& station) const;

private:
    std::filesystem::path SectorPath(uint32_t base) const;
    // The reset: what the card loads, saved as its state.
    Result<LoadedState> Load();
    Result<> ReadSector(uint32_t base, uint32_t offset, uint8_t* out, uint32_t count) const;

    CardConfig m_config;
    std::filesystem::path m_directory;
};

}  // namespace varnel::sim
