#pragma once
// Where the simulated machine lives, and the default machine.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pda/pda.h"
#include "platform/result.h"
#include "sim/machine_config.h"

namespace varnel::sim {

// The machine directory: `option` when given, else $VARNEL_MACHINE when
// set, else $XDG_STATE_HOME/varnel/machine, else ~/.local/state/varnel/machine.
// An empty name given (--machine "", VARNEL_MACHINE="") is refused, never
// taken for the default: a failure.
Result<std::filesystem::path> ResolveMachineDirectory(const std::optional<std::string>& option);

// The default machine: Windows 2000; adapter 0 a wired Ethernet adapter
// whose driver does not answer the card's private requests; adapter 1 a
// type-2 WLAN card (configured firmware Primary 1.3.6, Station 1.5.0).
MachineConfig DefaultMachineConfig();

// What a card leaves the factory with: its PDA, and the firmware images
// (name, S-record text) programmed into its flash, plugged with that PDA.
struct FactoryFirmware {
    CPda pda;
    std::vector<std::pair<std::string, std::string>> images;
};
// (A PDA is neither copied nor moved: the firmware is filled in place.)
using FactoryFirmwareOf = std::function<Result<>(const AdapterConfig&, FactoryFirmware& firmware)>;

// Writes a machine into `directory`: machine.json and each card's flash,
// programmed with what `factory` gives for its adapter. Refuses an existing
// machine unless `force`, and always a folder that holds other things and no
// machine.json: it is not a machine, and nothing is written into it.
Result<> InitMachine(const std::filesystem::path& directory, const MachineConfig& config,
                     const FactoryFirmwareOf& factory, bool force);

}  // namespace varnel::sim
