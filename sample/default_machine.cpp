#include "sample/default_machine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "platform/file_system.h"
#include "sample/sample_release.h"

namespace varnel::sample {

namespace {

CComponentVersion Version(uint16_t id, const sim::FirmwareIdentity& v) {
    return MakeVersion(id, v.major, v.minor, v.variant);
}

// How far a MAC address lies past the default card's: the card's number
// among the machine's cards, counted from 0.
uint64_t MacOffset(const std::array<uint8_t, 6>& mac) {
    const auto value = [](const uint8_t* bytes) {
        uint64_t v = 0;
        for (int i = 0; i < 6; ++i) v = v << 8 | bytes[i];
        return v;
    };
    return value(mac.data()) - value(CardIdentity{}.mac);
}

}  // namespace

sim::MachineConfig MachineConfigWithCards(int cards) {
    sim::MachineConfig config = sim::DefaultMachineConfig();
    const sim::AdapterConfig first = config.adapters.back();
    for (int n = 2; n <= cards; ++n) {
        sim::AdapterConfig adapter = first;
        char subkey[16];
        std::snprintf(subkey, sizeof subkey, "%04d", n);
        adapter.subkey = subkey;
        adapter.displayName = first.displayName + " #" + std::to_string(n);
        adapter.deviceName = first.deviceName.substr(0, first.deviceName.size() - 5) + subkey + "}";
        for (int i = 5, carry = n - 1; i >= 0 && carry; --i) {
            const int sum = adapter.mac[static_cast<size_t>(i)] + carry;
            adapter.mac[static_cast<size_t>(i)] = static_cast<uint8_t>(sum);
            carry = sum >> 8;
        }
        config.adapters.push_back(adapter);
    }
    return config;
}

Result<> FactoryFirmware(const sim::AdapterConfig& adapter, sim::FactoryFirmware& firmware) {
    if (!adapter.card) return Failure{"adapter " + adapter.subkey + " has no card"};
    CardIdentity identity;
    // The default card keeps its serial number; the cards after it count on.
    if (const uint64_t offset = MacOffset(adapter.mac); offset > 0 && offset < 10000) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "SN 99A0%04d", static_cast<int>((1234 + offset) % 10000));
        identity.serialNumber = serial;
    }
    std::copy(adapter.mac.begin(), adapter.mac.end(), std::begin(identity.mac));
    FillCardPda(firmware.pda, identity);
    const CComponentVersion primary = Version(CComponentVersion::kPrimaryId, adapter.card->primary);
    const CComponentVersion station = Version(CComponentVersion::kStationId, adapter.card->station);
    firmware.images = {{"primary.hex", ImageText(PrimaryImage(primary))},
                       {"station.hex", ImageText(StationImage(station))}};
    return {};
}

Result<> InitDefaultMachine(const std::filesystem::path& directory, bool force, bool latency, int cards,
                            bool realisticTiming) {
    if (cards < 1 || cards > kMaxCards)
        return Failure{"--cards: a machine has 1 to " + std::to_string(kMaxCards) + " cards, not " +
                       std::to_string(cards)};
    sim::MachineConfig config = MachineConfigWithCards(cards);
    config.latencyEnabled = latency;
    config.flashTimingEnabled = realisticTiming;
    return sim::InitMachine(directory, config, FactoryFirmware, force);
}

Result<> EnsureDefaultMachine(const std::filesystem::path& directory) {
    std::error_code ec;
    if (files::Exists((directory / "machine.json").string(), ec)) return {};
    return InitDefaultMachine(directory, false);
}

Result<std::unique_ptr<sim::SimMachine>> OpenProgramMachine(const std::optional<std::string>& directory) {
    const auto resolved = sim::ResolveMachineDirectory(directory);
    Result<> ensured = resolved ? EnsureDefaultMachine(*resolved) : resolved.Error();
    auto opened = ensured ? sim::SimMachine::Open(*resolved) : ensured.Error();
    if (!opened) return std::move(opened).Context("machine");
    if (const char* trace = std::getenv("VARNEL_TRACE"); trace)
        if (Result<> traced = (*opened)->OpenTrace(trace); !traced)
            return std::move(traced).Context("VARNEL_TRACE").Error();
    return opened;
}

}  // namespace varnel::sample
