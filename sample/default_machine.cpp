#include "sample/default_machine.h"

#include <algorithm>

#include "sample/sample_release.h"

namespace varnel::sample {

namespace {

CComponentVersion Version(uint16_t id, const sim::FirmwareIdentity& v) {
    return MakeVersion(id, v.major, v.minor, v.variant);
}

}  // namespace

bool FactoryFirmware(const sim::AdapterConfig& adapter, sim::FactoryFirmware* firmware, std::string* error) {
    if (!adapter.card) {
        if (error) *error = "adapter " + adapter.subkey + " has no card";
        return false;
    }
    CardIdentity identity;
    std::copy(adapter.mac.begin(), adapter.mac.end(), std::begin(identity.mac));
    FillCardPda(firmware->pda, identity);
    const CComponentVersion primary = Version(CComponentVersion::kPrimaryId, adapter.card->primary);
    const CComponentVersion station = Version(CComponentVersion::kStationId, adapter.card->station);
    firmware->images = {{"primary.hex", ImageText(PrimaryImage(primary))},
                        {"station.hex", ImageText(StationImage(station))}};
    return true;
}

bool InitDefaultMachine(const std::filesystem::path& directory, bool force, std::string* error, bool latency) {
    sim::MachineConfig config = sim::DefaultMachineConfig();
    config.latencyEnabled = latency;
    return sim::InitMachine(directory, config, FactoryFirmware, force, error);
}

bool EnsureDefaultMachine(const std::filesystem::path& directory, std::string* error) {
    std::error_code ec;
    if (std::filesystem::exists(directory / "machine.json", ec)) return true;
    return InitDefaultMachine(directory, false, error);
}

}  // namespace varnel::sample
