#pragma once
// The default simulated machine, its card as it left the factory: the
// sample card's PDA (with the adapter's MAC address) and Primary and
// Station firmware of the sample release's family at the card's configured
// versions, older than the release.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "sim/machine_dir.h"
#include "sim/sim_machine.h"

namespace varnel::sample {

// The factory firmware of a card of the sample release's model.
Result<> FactoryFirmware(const sim::AdapterConfig& adapter, sim::FactoryFirmware& firmware);

inline constexpr int kMaxCards = 16;

// The default machine with `cards` WLAN cards (1 to kMaxCards): adapter 0
// the wired adapter, adapters 1 to `cards` cards of the sample model, the
// first the default machine's card, each later one with the next MAC
// address and serial number.
sim::MachineConfig MachineConfigWithCards(int cards);

// Writes the default machine (with `cards` cards) into `directory`. Refuses
// an existing machine unless `force`. With `latency` the machine's request
// latency is switched on, with `realisticTiming` its cards' flash timing.
Result<> InitDefaultMachine(const std::filesystem::path& directory, bool force, bool latency = false, int cards = 1,
                            bool realisticTiming = false);

// Creates the default machine when the directory holds none yet.
Result<> EnsureDefaultMachine(const std::filesystem::path& directory);

// The simulated machine a desktop program runs on: in `directory` (else
// $VARNEL_MACHINE, else the default place), the default machine made there
// when it holds none, its requests traced to $VARNEL_TRACE when that is
// set. A failure's reason begins with "machine: " or "VARNEL_TRACE: ".
Result<std::unique_ptr<sim::SimMachine>> OpenProgramMachine(const std::optional<std::string>& directory);

}  // namespace varnel::sample
