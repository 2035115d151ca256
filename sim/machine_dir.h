#pragma once
// Where the simulated machine lives, and the default machine.

#include <filesystem>
#include <string>

#include "sim/machine_config.h"

namespace varnel::sim {

// The machine directory: `option` when given, else $VARNEL_MACHINE, else
// $XDG_STATE_HOME/varnel/machine, else ~/.local/state/varnel/machine.
std::filesystem::path ResolveMachineDirectory(const std::string& option);

// The default machine: Windows 2000; adapter 0 a wired Ethernet adapter
// whose driver does not answer the card's private requests; adapter 1 a
// type-2 WLAN card with a valid PDA and firmware older than the sample
// release.
MachineConfig DefaultMachineConfig();

// Writes the default machine into `directory`: machine.json and the card's
// flash (its firmware and PDA). Refuses an existing machine unless `force`.
// With `latency` the machine's request latency is switched on.
bool InitMachine(const std::filesystem::path& directory, bool force, std::string* error, bool latency = false);

// Creates the default machine when the directory holds none yet.
bool EnsureMachine(const std::filesystem::path& directory, std::string* error);

}  // namespace varnel::sim
