#pragma once
// The simulated machine's configuration: machine.json in the machine
// directory. Hand-editable; numbers may be written as JSON numbers or as
// "0x..." strings. docs/simulated-machine.md describes every field.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "sim/flash_timing.h"

namespace varnel::sim {

enum class System { Windows95, WindowsNT4, Windows2000 };

struct OidFault {
    uint32_t oid = 0;
    uint32_t status = 0;
    uint32_t fromRequest = 1;  // the n-th request of this OID (counted per process) and every later one
};

struct AddressRange {
    uint32_t from = 0;  // first address
    uint32_t to = 0;    // one past the last
    bool Overlaps(uint32_t address, uint32_t count) const { return address < to && from < address + count; }
};

struct CardFaults {
    std::vector<OidFault> oidStatus;
    std::vector<uint16_t> unreadableRids;
    std::vector<AddressRange> writeProtected;  // writes fail
    std::vector<AddressRange> corruptReads;    // read back other bytes than were written
    bool noSupportCheck = false;               // the driver does not know OID 0xFF010183
    uint32_t diesAfterRequests = 0;            // 0 = never
};

struct FirmwareIdentity {
    uint16_t variant = 0;
    uint16_t major = 0;
    uint16_t minor = 0;

    bool operator==(const FirmwareIdentity&) const = default;
};

struct CardConfig {
    uint16_t type = 2;         // RID 0xFD04 payload word 2
    FirmwareIdentity primary;  // used when flash holds no identity block
    FirmwareIdentity station;
    std::string firmwareText;  // RID 0xFFFF while the Station identity is `station`
    uint32_t flashSize = 0x800000;
    // The PDA copy the card loaded at its last reset: "loaded" (normal),
    // "erased" (always reads 0xFFFF), or a list of words it always reads.
    std::string ramPda = "loaded";
    std::vector<uint16_t> ramPdaWords;
    CardFaults faults;
};

struct AdapterConfig {
    std::string subkey;  // registry subkey name, e.g. 0001
    std::string displayName;
    std::string deviceName;    // opened as \Device\<name> on NT
    bool registryInfo = true;  // the adapter's registry information can be read
    bool driverOpens = true;
    bool answersPrivate = true;    // the driver answers the card's private requests
    std::array<uint8_t, 6> mac{};  // permanent address
    int32_t driverVersion = 0x00010000;
    std::optional<CardConfig> card;
};

struct Latency {
    uint32_t perRequestMicroseconds = 0;
    uint32_t perByteNanoseconds = 0;
};

struct MachineConfig {
    System system = System::Windows2000;
    uint32_t startupError = 6;  // what the access library's start-up probe reports
    bool eventCreationFails = false;
    Latency latency;
    bool latencyEnabled = false;
    // The card's flash timing (sim/flash_timing.h); when both are on, a
    // request takes the latency and the flash timing, one after the other.
    FlashTiming flashTiming;
    bool flashTimingEnabled = false;
    // Registry values: "HKEY_CURRENT_USER\\Software\\Varnel" -> {"Path": "..."}
    std::map<std::string, std::map<std::string, std::string>> registry;
    std::vector<AdapterConfig> adapters;
};

// Parses machine.json text, or says what in it is wrong ("machine.json:
// adapters[0].mac: expected a MAC address like 00-60-1D-12-34-56").
Result<MachineConfig> ParseMachineConfig(const std::string& text);
std::string FormatMachineConfig(const MachineConfig& config);

std::string SystemName(System system);
std::string FormatMac(const std::array<uint8_t, 6>& mac);

}  // namespace varnel::sim
