#pragma once
// One simulated card: its flash, the PDA copy it loaded at its last reset,
// and the firmware identities it runs. State lives under the card's
// directory and is saved before a request returns:
//   flash/XXXXXXXX.bin   64 KiB flash sectors by base address (a missing
//                        sector is erased flash: all 0xFF)
//   state.json           the PDA copy and identities loaded at the last reset

#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sim/machine_config.h"

namespace varnel::sim {

inline constexpr uint32_t kSectorSize = 0x10000;

class SimCard {
public:
    // Loads the card's state; a card without state is reset first.
    SimCard(const CardConfig& config, std::filesystem::path directory);

    const CardConfig& Config() const { return m_config; }
    uint32_t PdaAddress() const;

    // The card's own address decoding (a type-1 card ignores bits 17, 18).
    uint32_t Decode(uint32_t address) const;
    // Reads flash (NVRAM); false past the end of the flash.
    bool ReadFlash(uint32_t address, uint8_t* out, uint32_t count);
    // Reads what the card holds in RAM: the PDA copy loaded at the last
    // reset inside the PDA area, the flash elsewhere.
    bool ReadRam(uint32_t address, uint8_t* out, uint32_t count);
    // Writes flash and saves the sector; false when refused or not saved.
    bool WriteFlash(uint32_t address, const uint8_t* data, uint32_t count, std::string* error);

    // What the card loads at reset: the PDA copy and the firmware identities.
    bool Reset(std::string* error);
    FirmwareIdentity Primary() const { return m_primary; }
    FirmwareIdentity Station() const { return m_station; }
    // The firmware text (RID 0xFFFF): the Station firmware's.
    std::string FirmwareText() const;

private:
    std::vector<uint8_t>& Sector(uint32_t base);
    std::filesystem::path SectorPath(uint32_t base) const;
    FirmwareIdentity IdentityAt(uint32_t address, uint16_t id, const FirmwareIdentity& fallback);

    CardConfig m_config;
    std::filesystem::path m_directory;
    std::map<uint32_t, std::vector<uint8_t>> m_sectors;  // loaded sectors by base address
    std::array<uint8_t, 0x400> m_ramPda{};
    FirmwareIdentity m_primary;
    FirmwareIdentity m_station;
};

}  // namespace varnel::sim
